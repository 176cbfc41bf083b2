# The programs a user installs. Each one is declared beside its add_executable(), with its
# install rule and one line for the rest:
#
#   install(TARGETS rastrom-preview RUNTIME DESTINATION ${RASTROM_INSTALL_BINDIR})
#   rastrom_program(rastrom-preview "COE file to image preview")
#
# rastrom_program() puts its manual page, man/<name>.1 (required outside Windows), in the
# install, gzip-compressed at build time, and on Windows gives the .exe a version resource
# naming it with the description; .ci/package checks that every page's program is in the
# Debian package and the Windows ZIP. Tests, the benchmark and the fuzz programs have no
# install rule, so they are never installed.

include(GNUInstallDirs)

# On Windows the .exe files land at the top of the install folder, beside README.txt and
# LICENSE.txt.
if(WIN32)
  set(RASTROM_INSTALL_BINDIR .)
else()
  set(RASTROM_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
endif()

# The version resource's numeric form: 1.0 -> 1,0,0,0.
foreach(part MAJOR MINOR PATCH TWEAK)
  set(version_${part} "${PROJECT_VERSION_${part}}")
  if(version_${part} STREQUAL "")
    set(version_${part} 0)
  endif()
endforeach()
set(RASTROM_RC_VERSION "${version_MAJOR},${version_MINOR},${version_PATCH},${version_TWEAK}")
unset(version_MAJOR)
unset(version_MINOR)
unset(version_PATCH)
unset(version_TWEAK)

find_program(RASTROM_GZIP gzip)

function(rastrom_program name description)
  if(WIN32)
    set(RASTROM_RC_NAME "${name}")
    set(RASTROM_RC_DESCRIPTION "${description}")
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc @ONLY)
    target_sources(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc)
    return()
  endif()

  set(page ${PROJECT_SOURCE_DIR}/man/${name}.1)
  if(NOT EXISTS ${page})
    message(FATAL_ERROR "${name} has no manual page: write man/${name}.1")
  endif()
  if(NOT RASTROM_GZIP)
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    return()
  endif()
  # Compressed as Debian wants it, with no name or time stamp inside (-n), so that the
  # same page always gives the same bytes; man reads it either way.
  set(packed ${PROJECT_BINARY_DIR}/man/${name}.1.gz)
  add_custom_command(OUTPUT ${packed}
    COMMAND ${CMAKE_COMMAND} -E copy ${page} ${PROJECT_BINARY_DIR}/man/${name}.1
    COMMAND ${RASTROM_GZIP} -9nf ${PROJECT_BINARY_DIR}/man/${name}.1
    DEPENDS ${page}
    COMMENT "Compressing the manual page ${name}.1"
    VERBATIM)
  add_custom_target(${name}_manpage ALL DEPENDS ${packed})
  install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
