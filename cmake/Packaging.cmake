# Packages made with CPack from the install rules.
#   Debian:  cpack -G DEB  -> rovenza_<version>_<arch>.deb; its Depends come from dpkg-shlibdeps.
#   Windows: cpack -G ZIP  -> rovenza-cli-<version>-win64.zip (the programs, README, licences).
# scripts/package-test.sh and scripts/windows-test.sh make both and try them.
set(CPACK_PACKAGE_NAME rovenza)
set(CPACK_PACKAGE_VENDOR "The Rovenza developers")
set(ROVENZA_PACKAGE_CONTACT "The Rovenza developers <rovenza@invalid>" CACHE STRING
  "The maintainer named in the packages")
set(CPACK_PACKAGE_CONTACT "${ROVENZA_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware upgrades for USB measurement instruments")
set(CPACK_PACKAGE_DESCRIPTION
  "Rovenza writes new firmware packages (.fwu) into USB-attached measurement instruments: the
window rovenza, the command line program rovenza-cli (exit codes by kind of result, JSON
events, a simulated instrument bench for rehearsals) and make-fwu, which writes packages.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "rovenza-cli-${PROJECT_VERSION}-win64")
  # The licences of the libraries linked into the programs: zlib, libzip and the MinGW-w64
  # runtime (scripts/windows-deps.sh gathers them beside the libraries).
  if(ROVENZA_WIN_DEPS_PREFIX AND EXISTS ${ROVENZA_WIN_DEPS_PREFIX}/share/licenses)
    install(DIRECTORY ${ROVENZA_WIN_DEPS_PREFIX}/share/licenses/ DESTINATION licenses)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The window is laid out for Tahoma, which Debian ships with wine's fonts.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-wine)
endif()

include(CPack)
