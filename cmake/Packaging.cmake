# `cpack -G DEB` in a build folder makes the booth PC's package. The
# libraries the binaries link are found by dpkg-shlibdeps; the rest are
# things loaded at run time that no linker sees.
set(CPACK_PACKAGE_NAME "telvira-softphone")
set(CPACK_PACKAGE_VENDOR "Telvira")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Softphone Telvira: SIP softphone for prepaid call booths")
set(CPACK_PACKAGE_DESCRIPTION
  "The booth program in Spanish (dial, time and price each call against the\n"
  "provider's billing portal) and softphone-cli, a command-line SIP user agent.")
set(CPACK_PACKAGE_CONTACT "Telvira <soporte@telvira.example>")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Speex is opened with dlopen, the voices are data, and Qt needs its X11
# platform plugin, the SQLite driver and its Spanish translation.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libspeex1, espeak-ng-data, qt6-qpa-plugins, libqt6sql6-sqlite, qt6-translations-l10n")
# Debian asks every package for its copyright notice in the documentation
# folder, in the machine-readable form.
set(SOFTPHONE_COPYRIGHT_FILE ${CMAKE_BINARY_DIR}/packaging/copyright)
file(WRITE ${SOFTPHONE_COPYRIGHT_FILE}
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ${CPACK_PACKAGE_NAME}\n"
  "Upstream-Contact: ${CPACK_PACKAGE_CONTACT}\n"
  "\n"
  "Files: *\n"
  "Copyright: Telvira\n"
  "License: proprietary\n"
  " Este programa está protegido por las leyes de propiedad intelectual y los\n"
  " tratados internacionales. Queda prohibido copiarlo, modificarlo,\n"
  " descompilarlo, alquilarlo o distribuirlo, en todo o en parte, sin la\n"
  " autorización escrita de Telvira.\n")
install(FILES ${SOFTPHONE_COPYRIGHT_FILE}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
include(CPack)
