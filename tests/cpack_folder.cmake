# cpack as a user runs it in the build folder: with `-B DIR` the package lands in DIR and
# nowhere else; without it, in packages/ of the build folder.
# Usage: cmake -DCPACK=<cpack> -DBUILD=<build folder> -P cpack_folder.cmake
string(RANDOM LENGTH 8 tag)
set(chosen "${BUILD}/cpack-folder-test-${tag}")
set(default "${BUILD}/packages")

function(package_files folder out)
  file(GLOB found "${folder}/*.tar.gz")
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

function(run_cpack)
  execute_process(COMMAND "${CPACK}" -G TGZ ${ARGN} WORKING_DIRECTORY "${BUILD}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cpack ${ARGN} failed:\n${out}")
  endif()
endfunction()

file(REMOVE_RECURSE "${chosen}")
file(GLOB stale "${default}/*.tar.gz")
if(stale)
  file(REMOVE ${stale})
endif()

run_cpack(-B "${chosen}")
package_files("${chosen}" in_chosen)
package_files("${default}" in_default)
file(REMOVE_RECURSE "${chosen}")
if(NOT in_chosen OR in_default)
  message(FATAL_ERROR "cpack -B DIR: expected the package in DIR only; DIR holds [${in_chosen}], "
                      "packages/ holds [${in_default}]")
endif()

run_cpack()
package_files("${default}" in_default)
if(in_default)
  file(REMOVE ${in_default})
  file(REMOVE_RECURSE "${BUILD}/_CPack_Packages")
else()
  message(FATAL_ERROR "cpack without -B made no package in ${default}")
endif()
