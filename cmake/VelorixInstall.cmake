# Install rules: cmake --install BUILD [--prefix PREFIX], with DESTDIR too.
#
#   bin/velorix-setup                                       component setup
#   LIBDIR/velorix-setup/velorix-setup-window.so            component setup
#   share/man/man1/velorix-setup.1.gz                       component setup
#   share/bash-completion/completions/velorix-setup         component setup
#   LIBDIR/libvelorix-support.a                             component dev
#   LIBDIR/libvelorix-support-core.a                        component dev
#   include/velorix/utility.h                               component dev
#   LIBDIR/pkgconfig/velorix-support.pc                     component dev
#   LIBDIR/pkgconfig/velorix-support-core.pc                component dev
#   LIBDIR/cmake/VelorixSupport/VelorixSupport*.cmake       component dev
#
# The desktop entry, its icon, the AppStream file and the examples are in
# VelorixPackage.cmake.  Each component is one Debian package (debian/rules
# installs them one by one): setup is velorix-setup, dev is
# velorix-support-dev.
#
# The support library has two faces: velorix-support (Velorix::support),
# the whole library with Vibrant, Motif and X, for programs with a window,
# and velorix-support-core (Velorix::support-core), its parts without a
# display, which link the toolkit's core library alone.
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
# The window's module, private to the program: it finds it by the path
# from its own directory, which holds under any prefix.
set(VX_WINDOW_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/velorix-setup)
install(TARGETS velorix-setup-window LIBRARY DESTINATION ${VX_WINDOW_MODULE_DIR} COMPONENT setup)
file(RELATIVE_PATH VX_WINDOW_MODULE_FROM_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${VX_WINDOW_MODULE_DIR})
target_compile_definitions(velorix-setup PRIVATE
                           VX_WINDOW_MODULE_FROM_PROGRAM="${VX_WINDOW_MODULE_FROM_PROGRAM}")

# Manual pages are installed compressed, as Debian has them.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/packaging/velorix-setup.1.gz
  COMMAND gzip -9nc ${VX_PACKAGING_DIR}/velorix-setup.1 > ${CMAKE_BINARY_DIR}/packaging/velorix-setup.1.gz
  DEPENDS ${VX_PACKAGING_DIR}/velorix-setup.1
  VERBATIM)
add_custom_target(vx-man ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/velorix-setup.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/velorix-setup.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT setup)

# The bash completion, named after the program, where bash-completion
# loads it on the first Tab after velorix-setup: below /usr/share for the
# Debian package, and below any prefix whose share directory is in
# XDG_DATA_DIRS (/usr/local/share is by default).
install(FILES ${VX_PACKAGING_DIR}/velorix-setup.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME velorix-setup COMPONENT setup)

install(TARGETS velorix-support velorix-support-core
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
# In a directory of its own: the analysis program includes it as
# "utility.h", which is too common a name for the top of include/.
install(FILES ${CMAKE_SOURCE_DIR}/support/utility.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velorix COMPONENT dev)

# pkg-config: plain paths below ${prefix}.  The prefix is the one the tree
# is installed under, which cmake --install --prefix may change after
# configuring, so each .pc file is made in two passes: everything but the
# prefix now, the prefix when it is installed.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(VX_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(VX_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
if(IS_ABSOLUTE "${VX_PC_DIR}")
  set(vx_pc_destination "${VX_PC_DIR}")
else()
  set(vx_pc_destination "\${CMAKE_INSTALL_PREFIX}/${VX_PC_DIR}")
endif()
set(VX_PC_PREFIX "@VX_PC_PREFIX@")
foreach(pc velorix-support velorix-support-core)
  set(pending ${CMAKE_BINARY_DIR}/packaging/${pc}.pc.in)
  set(made ${CMAKE_BINARY_DIR}/packaging/install/${pc}.pc)
  configure_file(${VX_PACKAGING_DIR}/${pc}.pc.in ${pending} @ONLY)
  install(CODE "set(VX_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${pending}\" \"${made}\" @ONLY)
    file(INSTALL \"${made}\" DESTINATION \"${vx_pc_destination}\")"
    COMPONENT dev)
endforeach()

# find_package(VelorixSupport): Velorix::support and Velorix::support-core,
# whose config file finds the toolkit on the machine where it is used
# rather than carrying this build's paths.
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
