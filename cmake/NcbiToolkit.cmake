# The NCBI C Toolkit, as Debian packages it: the core library alone for
# code without a display, and Vibrant over Motif for the window.
#
#   ncbi_core  the core library (settings files, messages, memory, files)
#   ncbi_gui   Vibrant, Motif, Xt and X11 in the order they must load, and
#              the core library after Vibrant (both define main; in a GUI
#              program Vibrant's must win)
include_guard(GLOBAL)

find_path(NCBI_INCLUDE_DIR ncbi.h PATH_SUFFIXES ncbi REQUIRED)
find_library(NCBI_LIB ncbi REQUIRED)
find_library(VIBRANT_LIB vibrant REQUIRED)
find_library(XM_LIB Xm REQUIRED)
find_library(XT_LIB Xt REQUIRED)
find_library(X11_LIB X11 REQUIRED)

add_library(ncbi_core INTERFACE)
target_include_directories(ncbi_core SYSTEM INTERFACE ${NCBI_INCLUDE_DIR})
# The toolkit's headers test WIN_MOTIF even outside Vibrant, and define
# _BSD_SOURCE, which glibc deprecates unless _DEFAULT_SOURCE is set too.
target_compile_definitions(ncbi_core INTERFACE WIN_MOTIF _DEFAULT_SOURCE)
target_link_libraries(ncbi_core INTERFACE ${NCBI_LIB} dl)

add_library(ncbi_gui INTERFACE)
target_link_libraries(ncbi_gui INTERFACE ncbi_core)
target_link_libraries(ncbi_gui INTERFACE ${VIBRANT_LIB} ${NCBI_LIB} ${XM_LIB} ${XT_LIB} ${X11_LIB})
# With --as-needed, a program that calls Xt itself loads Xt before Motif,
# and Motif's widgets then fail to realize.  Keep the toolkit's load order.
target_link_options(ncbi_gui INTERFACE "LINKER:--no-as-needed")
