# The Debian package that scripts/package builds with CPack: the program and the simulator in
# /usr/bin (their install rules sit beside the targets), a menu entry with the logo as its icon,
# and a short guide to using a real modem.
set(package_name ipp93kt-configurator)
set(package_dir ${CMAKE_CURRENT_LIST_DIR})

install(FILES ${package_dir}/${package_name}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The logo is the only picture of the program's own, and it exists at 128 x 128 only.
install(FILES ${PROJECT_SOURCE_DIR}/resources/zaoNorvel128.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps RENAME ${package_name}.png)
install(FILES ${package_dir}/README.Debian DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package_name})

# A placeholder until the package has a real maintainer address.
set(CONFIGURATOR_PACKAGE_MAINTAINER "Configurator maintainers <configurator@example.invalid>" CACHE STRING
  "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${package_name})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${CONFIGURATOR_COMPANY_NAME}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration tool for the IPP-93kt HART flame detector")
set(CPACK_PACKAGE_DESCRIPTION [=[
Finds the detector on its HART loop through a serial modem, shows its
identity and live state, reads and writes its configuration, runs service
operations, downloads its event log into SQLite, updates its firmware and
shows every HART frame in a traffic monitor. Russian interface.
Includes ipp93kt-detector-sim, a simulated detector on a pseudo-terminal.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CONFIGURATOR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${CONFIGURATOR_COMPANY_DOMAIN}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so invisible to shlibdeps: the SQLite driver of the event log, and Qt's own
# Russian texts for its buttons and dialogs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5sql5-sqlite, qttranslations5-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
