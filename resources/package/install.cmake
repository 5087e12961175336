# What a system install puts beside the two programs (their own rules sit beside the targets):
# the menu entry with the logo as its icon, the AppStream description and the manual page.
# debian/ splits the result into the two packages.
set(package_dir ${CMAKE_CURRENT_LIST_DIR})

install(FILES ${package_dir}/ipp93kt-configurator.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The logo is the only picture of the program's own, and it exists at 128 x 128 only.
install(FILES ${PROJECT_SOURCE_DIR}/resources/zaoNorvel128.png
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps RENAME ipp93kt-configurator.png)
install(FILES ${package_dir}/ru.norvel.ipp93kt_configurator.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${package_dir}/ipp93kt-configurator.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
