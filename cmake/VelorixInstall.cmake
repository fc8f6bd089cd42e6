# Install rules: cmake --install BUILD [--prefix PREFIX], with DESTDIR too.
#
#   bin/velorix-setup                                       component setup
#   share/man/man1/velorix-setup.1.gz                       component setup
#   share/applications/velorix-setup.desktop                component setup
#   LIBDIR/libvelorix-support.a                             component dev
#   include/velorix/utility.h                               component dev
#   LIBDIR/pkgconfig/velorix-support.pc                     component dev
#   LIBDIR/cmake/VelorixSupport/VelorixSupport*.cmake       component dev
#
# The .pc and the CMake package find everything relative to where they are
# installed, so that a tree installed with another --prefix or under DESTDIR
# still works.  The components become the Debian packages velorix-setup and
# velorix-support-dev (VelorixPackage.cmake).
include_guard(GLOBAL)
# The library, its .pc and its CMake package go into the multiarch
# directory where the system has one (lib/x86_64-linux-gnu on Debian), in
# /usr/local as in /usr: pkg-config and find_package search it there, and
# cross builds find the .pc only there.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}
      CACHE PATH "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VX_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(VX_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(VX_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VelorixSupport)

install(TARGETS velorix-setup RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT setup)

# Manual pages are installed compressed, as Debian has them.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/packaging/velorix-setup.1.gz
  COMMAND gzip -9nc ${VX_PACKAGING_DIR}/velorix-setup.1 > ${CMAKE_BINARY_DIR}/packaging/velorix-setup.1.gz
  DEPENDS ${VX_PACKAGING_DIR}/velorix-setup.1
  VERBATIM)
add_custom_target(vx-man ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/velorix-setup.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/velorix-setup.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT setup)
install(FILES ${VX_PACKAGING_DIR}/velorix-setup.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT setup)

install(TARGETS velorix-support ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
# In a directory of its own: the analysis program includes it as
# "utility.h", which is too common a name for the top of include/.
install(FILES ${CMAKE_SOURCE_DIR}/support/utility.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velorix COMPONENT dev)

# pkg-config: the prefix is found from the .pc file's own place.
file(RELATIVE_PATH VX_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VX_PC_TO_PREFIX "${VX_PC_TO_PREFIX}")
configure_file(${VX_PACKAGING_DIR}/velorix-support.pc.in
               ${CMAKE_BINARY_DIR}/packaging/velorix-support.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/velorix-support.pc
        DESTINATION ${VX_PC_DIR} COMPONENT dev)

# find_package(VelorixSupport): Velorix::support, whose config file finds
# the toolkit on the machine where it is used rather than carrying this
# build's paths.
configure_package_config_file(
  ${VX_PACKAGING_DIR}/VelorixSupportConfig.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/VelorixSupportConfig.cmake
  INSTALL_DESTINATION ${VX_CMAKE_PACKAGE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(
  ${CMAKE_BINARY_DIR}/packaging/VelorixSupportConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/VelorixSupportConfig.cmake
              ${CMAKE_BINARY_DIR}/packaging/VelorixSupportConfigVersion.cmake
        DESTINATION ${VX_CMAKE_PACKAGE_DIR} COMPONENT dev)
