# The documents that go with the programs, and the packages CPack makes of the install:
#   Linux:   cpack -G DEB   (in the build folder) -> packages/rastrom_1.0_<arch>.deb
#   Windows: cpack -G ZIP   (MinGW or MSVC build) -> packages/rastrom-1.0-win64.zip
# `cpack -B DIR` puts them in DIR instead.
# The programs themselves are declared with rastrom_program() (cmake/programs.cmake).

set(license ${PROJECT_SOURCE_DIR}/LICENSE)
set(readme ${PROJECT_SOURCE_DIR}/README.md)
set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${license} ${readme} ${changelog})

if(WIN32)
  # Text a Windows user opens with a double click: .txt names and CR LF line ends.
  foreach(pair "${readme}=README.txt" "${license}=LICENSE.txt")
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 from)
    list(GET pair 1 to)
    file(READ ${from} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${PROJECT_BINARY_DIR}/doc/${to} "${text}")
    install(FILES ${PROJECT_BINARY_DIR}/doc/${to} DESTINATION .)
  endforeach()
else()
  # Debian's copyright file in its machine-readable form, made from LICENSE: the holder
  # from its copyright line, the permission text after it, each line indented by one
  # blank and each empty line written as " .".
  file(READ ${license} text)
  if(NOT text MATCHES "Copyright \\(c\\) ([0-9]+) ([^\n]+)\n\n(.+)$")
    message(FATAL_ERROR "LICENSE: no \"Copyright (c) <year> <holder>\" line followed by the text")
  endif()
  set(copyright "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
  string(STRIP "${CMAKE_MATCH_3}" terms)
  string(REPLACE "\n\n" "\n.\n" terms "${terms}")
  string(REPLACE "\n" "\n " terms "${terms}")
  file(WRITE ${PROJECT_BINARY_DIR}/doc/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: ${PROJECT_NAME}\n"
    "Upstream-Contact: rastrom developers <rastrom@example.org>\n\n"
    "Files: *\n"
    "Copyright: ${copyright}\n"
    "License: Expat\n"
    " ${terms}\n")

  # The changelog, in Debian's format, must start with this version: a package whose
  # changelog names another version is refused by lintian and misleads its readers.
  file(STRINGS ${changelog} top LIMIT_COUNT 1)
  if(NOT top MATCHES "^${PROJECT_NAME} \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog starts with \"${top}\"; "
                        "add an entry for ${PROJECT_NAME} (${PROJECT_VERSION}) at the top")
  endif()
  set(changelog_gz ${PROJECT_BINARY_DIR}/doc/changelog.gz)
  if(RASTROM_GZIP)
    add_custom_command(OUTPUT ${changelog_gz}
      COMMAND ${CMAKE_COMMAND} -E copy ${changelog} ${PROJECT_BINARY_DIR}/doc/changelog
      COMMAND ${RASTROM_GZIP} -9nf ${PROJECT_BINARY_DIR}/doc/changelog
      DEPENDS ${changelog}
      COMMENT "Compressing the changelog"
      VERBATIM)
    add_custom_target(rastrom_changelog ALL DEPENDS ${changelog_gz})
  else()
    set(changelog_gz ${changelog})
  endif()

  install(FILES ${readme} ${PROJECT_SOURCE_DIR}/examples/sample.bmp
                ${PROJECT_BINARY_DIR}/doc/copyright ${changelog_gz}
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The README's links lead to docs/ and to the HDL example, which go beside it; the
  # example's sources only, not what a simulation of it leaves behind.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
          FILES_MATCHING PATTERN "*.md")
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/hdl/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/hdl
          FILES_MATCHING PATTERN "*.v" PATTERN "*.vhd" PATTERN "*.mem" PATTERN "*.mif" PATTERN "*.md")
endif()

set(CPACK_PACKAGE_VENDOR "the rastrom developers")
set(CPACK_PACKAGE_CONTACT "rastrom developers <rastrom@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert BMP images to Xilinx COE memory files")
set(CPACK_PACKAGE_DESCRIPTION [=[
rastrom turns a BMP picture into a Xilinx COE file, the text file that gives
a block memory its initial contents, for a boot logo, a test pattern or a
sprite sheet in an FPGA design.

Each pixel is reduced to one byte of 3-3-2 RGB, and four pixels make one
32-bit memory word, from the top-left corner of the image. It reads BMP files
of 1 to 32 bits per pixel, uncompressed or RLE-compressed, with its own
decoder, and refuses malformed files rather than guess.]=])
set(CPACK_RESOURCE_FILE_LICENSE ${license})
set(CPACK_STRIP_FILES ON)
# Where the packages go is decided when cpack runs, so that `cpack -B DIR` is honoured.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_project.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The Depends line comes from the binary's libraries (dpkg-shlibdeps, which needs `file`).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
