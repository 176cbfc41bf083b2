# Read by cpack as it runs. The packages go to packages/ in the folder cpack runs in (the
# build folder, as the README says), unless the user names a folder with `cpack -B DIR`:
# then they go to DIR itself, as cpack's own option promises.
file(REAL_PATH "${CPACK_PACKAGE_DIRECTORY}" rastrom_package_folder)
file(REAL_PATH "." rastrom_working_folder)  # relative to the folder cpack runs in
if(rastrom_package_folder STREQUAL rastrom_working_folder)
  set(CPACK_OUTPUT_FILE_PREFIX "${rastrom_working_folder}/packages")
else()
  set(CPACK_OUTPUT_FILE_PREFIX "${rastrom_package_folder}")
endif()
