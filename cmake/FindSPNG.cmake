# Finds libspng (Debian: libspng-dev), through pkg-config when it is there, else by its
# header and library. Defines SPNG_FOUND, SPNG_VERSION (when pkg-config knows it) and the
# imported target SPNG::SPNG.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(PC_SPNG QUIET spng)
endif()
find_path(SPNG_INCLUDE_DIR spng.h HINTS ${PC_SPNG_INCLUDE_DIRS})
find_library(SPNG_LIBRARY NAMES spng HINTS ${PC_SPNG_LIBRARY_DIRS})
set(SPNG_VERSION ${PC_SPNG_VERSION})

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(SPNG REQUIRED_VARS SPNG_LIBRARY SPNG_INCLUDE_DIR
                                  VERSION_VAR SPNG_VERSION)
if(SPNG_FOUND AND NOT TARGET SPNG::SPNG)
  add_library(SPNG::SPNG UNKNOWN IMPORTED)
  set_target_properties(SPNG::SPNG PROPERTIES
    IMPORTED_LOCATION ${SPNG_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${SPNG_INCLUDE_DIR})
endif()
mark_as_advanced(SPNG_INCLUDE_DIR SPNG_LIBRARY)
