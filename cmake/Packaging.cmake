# Packages made by CPack from the install rules (dist/CMakeLists.txt):
#   Linux:   cpack -G DEB  ->  rebounce_<version>-1_<arch>.deb
#   Windows: cpack -G ZIP  ->  rebounce-cli-<version>-win64.zip (the mingw cross build)
# tools/package.sh builds both from build folders of their own.
set(CPACK_PACKAGE_NAME rebounce)
set(CPACK_PACKAGE_VENDOR "The Rebounce Test developers")
set(CPACK_PACKAGE_CONTACT "The Rebounce Test developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial port echo test and AVR baud-rate calculator")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES /\\.git/ /build.*/)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME rebounce-cli-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends: worked out by dpkg-shlibdeps from the libraries the programs
  # link (Qt 6, the C++ runtime, libc).  The window is laid out for
  # metric-compatible Arial / Courier New faces.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
  # Below the synopsis (the summary above); CPack indents the lines and
  # marks the empty one as Debian wants.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Rebounce Test checks a PC serial port, or the UART of a microcontroller\n"
    "board, with an echo test: it sends a 1000-byte pattern through an echo\n"
    "plug or a board that returns every byte, times the transfer and judges\n"
    "PASS or FAIL.  An AVR baud-rate calculator finds the UBRRn value, the\n"
    "rate obtained and its error for normal and double speed.\n"
    "\n"
    "The package holds the window (rebounce), the command line (rebounce-cli)\n"
    "with its manual pages and bash completion, and the AVR echo firmware\n"
    "sources under /usr/share/doc/rebounce/firmware.")
endif()

include(CPack)
