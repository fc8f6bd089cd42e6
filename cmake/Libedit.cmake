# libedit, the line editing of the questions in a terminal (Debian's
# libedit-dev, BSD licence).
include_guard(GLOBAL)

find_path(LIBEDIT_INCLUDE_DIR histedit.h REQUIRED)
find_library(LIBEDIT_LIB edit REQUIRED)
add_library(libedit INTERFACE)
target_include_directories(libedit SYSTEM INTERFACE ${LIBEDIT_INCLUDE_DIR})
target_link_libraries(libedit INTERFACE ${LIBEDIT_LIB})
