# What the velorix-setup package ships besides the program and its manual
# page (VelorixInstall.cmake), all in component setup:
#
#   share/applications/velorix-setup.desktop              the menu entry
#   share/icons/hicolor/scalable/apps/velorix-setup.svg   its icon
#   share/metainfo/org.velorix.setup.metainfo.xml         AppStream metadata,
#                                                         for software centres
#   share/doc/velorix-setup/examples/answers.ini          an answer file
#   share/doc/velorix-setup/examples/ansible/             the fleet example
#   share/doc/velorix-setup/examples/product/             a product directory to
#                                                         try the tool with
#   share/doc/velorix-setup/*.png                         pictures of the Setup
#                                                         window and of --text,
#                                                         made by scripts/pictures.py
#
# The Debian packages themselves are made from debian/ with debhelper
# (scripts/package.sh runs dpkg-buildpackage).
include_guard(GLOBAL)

set(VX_EXAMPLES_DIR ${CMAKE_INSTALL_DATADIR}/doc/velorix-setup/examples)

install(FILES ${VX_PACKAGING_DIR}/velorix-setup.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT setup)
install(FILES ${VX_PACKAGING_DIR}/velorix-setup.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT setup)
install(FILES ${VX_PACKAGING_DIR}/org.velorix.setup.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT setup)
install(FILES ${VX_PACKAGING_DIR}/examples/answers.ini DESTINATION ${VX_EXAMPLES_DIR}
        COMPONENT setup)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/deploy/ansible DESTINATION ${VX_EXAMPLES_DIR}
        COMPONENT setup)
# Its velorix stand-in stays executable, as a product's executable is.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/product DESTINATION ${VX_EXAMPLES_DIR}
        USE_SOURCE_PERMISSIONS COMPONENT setup)
install(FILES ${CMAKE_SOURCE_DIR}/docs/setup-window-user.png
              ${CMAKE_SOURCE_DIR}/docs/setup-window-full.png
              ${CMAKE_SOURCE_DIR}/docs/text-session.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velorix-setup COMPONENT setup)
