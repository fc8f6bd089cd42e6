# The sources of each library, shared by the main build and the fuzz
# build.  VX_ROOT is the top of the source tree.
#
#   VX_SUPPORT_CORE_SOURCES  the support library without a display
#   VX_SUPPORT_GUI_SOURCES   its parts that need Vibrant or Xt
#   VX_INSTALL_SOURCES       the installation core of the setup tool
#   VX_WINDOW_SOURCES        the Setup window and its help windows (C++, and C
#                            where it calls Motif beneath Vibrant)
include_guard(GLOBAL)

set(VX_SUPPORT_GUI_SOURCES
  ${VX_ROOT}/support/events.cc
  ${VX_ROOT}/support/file_dialogs.cc
  ${VX_ROOT}/support/text_width.cc)
file(GLOB VX_SUPPORT_CORE_SOURCES CONFIGURE_DEPENDS ${VX_ROOT}/support/*.cc)
list(REMOVE_ITEM VX_SUPPORT_CORE_SOURCES ${VX_SUPPORT_GUI_SOURCES})

# The installation core's rooms, each a folder of setup/install.
set(VX_INSTALL_ROOMS form templates procedure plan product files record)
set(VX_INSTALL_SOURCES)
set(VX_INSTALL_INCLUDE_DIRS)
foreach(room IN LISTS VX_INSTALL_ROOMS)
  file(GLOB room_sources CONFIGURE_DEPENDS ${VX_ROOT}/setup/install/${room}/*.cc)
  list(APPEND VX_INSTALL_SOURCES ${room_sources})
  list(APPEND VX_INSTALL_INCLUDE_DIRS ${VX_ROOT}/setup/install/${room})
endforeach()
file(GLOB VX_WINDOW_SOURCES CONFIGURE_DEPENDS ${VX_ROOT}/setup/window/*.cc
     ${VX_ROOT}/setup/window/*.c)
