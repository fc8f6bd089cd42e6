# The version that velorix-setup --version prints: the project's version
# and, in a git checkout, the checkout's description.  The description is
# taken at every build, not at configure time, so that a commit or an edit
# made after configuring shows; the header changes (and main.cc is
# recompiled) only when the description does.
include_guard(GLOBAL)

set(VX_VERSION_HEADER ${CMAKE_BINARY_DIR}/generated/velorix_version.h)
add_custom_target(vx-version
  COMMAND ${CMAKE_COMMAND} -DVX_SOURCE=${CMAKE_SOURCE_DIR} -DVX_VERSION=${PROJECT_VERSION}
          -DVX_OUTPUT=${VX_VERSION_HEADER} -P ${CMAKE_CURRENT_LIST_DIR}/WriteVersion.cmake
  BYPRODUCTS ${VX_VERSION_HEADER}
  VERBATIM)
add_dependencies(velorix-setup vx-version)
target_include_directories(velorix-setup PRIVATE ${CMAKE_BINARY_DIR}/generated)
