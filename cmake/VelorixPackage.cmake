# Debian packages made by CPack from the install rules (scripts/package.sh):
#
#   velorix-setup        the tool, its manual page and desktop entry; its
#                        Depends come from dpkg-shlibdeps
#   velorix-support-dev  the support library, utility.h, the .pc file and
#                        the CMake package; it depends on the toolkit's
#                        development packages, which a program linking the
#                        library needs for the headers and libraries it names
include_guard(GLOBAL)

set(VX_PACKAGE_MAINTAINER "Velorix maintainers <velorix-install@velorix.org>"
    CACHE STRING "Maintainer field of the Debian packages")

# Debian wants the copyright and a changelog in each package's doc directory.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nc ${VX_PACKAGING_DIR}/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${VX_PACKAGING_DIR}/changelog
  VERBATIM)
add_custom_target(vx-changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
foreach(component setup dev)
  if(component STREQUAL "setup")
    set(package velorix-setup)
  else()
    set(package velorix-support-dev)
  endif()
  install(FILES ${VX_PACKAGING_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velorix-setup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velorix")
set(CPACK_PACKAGE_CONTACT ${VX_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL setup dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_SETUP_PACKAGE_NAME velorix-setup)
set(CPACK_DEBIAN_SETUP_PACKAGE_SECTION science)
set(CPACK_DEBIAN_SETUP_PACKAGE_SHLIBDEPS ON)
# A Full installation compiles with the C++ compiler named in the form.
set(CPACK_DEBIAN_SETUP_PACKAGE_RECOMMENDS "g++ | c++-compiler")
# CPack indents the description's lines for the control file itself.
set(CPACK_COMPONENT_SETUP_DESCRIPTION
    "setup tool of the Velorix analysis package
velorix-setup prepares a directory for Velorix, an interactive package for
the numerical analysis of dynamical systems: the settings file .velorixrc,
data files, the script that compiles a user's model, a C header and the
symbolic-differentiation object.  It is one X11 dialog, and it also runs
without a display from the command line (--unattended).")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME velorix-support-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# No ELF file in it for dpkg-shlibdeps: a program linking the library needs
# the toolkit's headers and link libraries, and pkg-config for the .pc.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "libncbi6-dev, libvibrant6-dev, libmotif-dev, libxt-dev, libx11-dev, pkg-config")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "Velorix support library (static library and header)
The support library that the Velorix setup tool shares with the analysis
program: the settings file with $(Section.KEY) references, string and
directory helpers, the description-file line reader and the
shared-library registry.  C and C++ programs link it with
pkg-config --cflags --libs velorix-support, or with
find_package(VelorixSupport) and the target Velorix::support in CMake.")

include(CPack)
