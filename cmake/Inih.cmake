# inih, the INI reader of the answer files (Debian's libinih-dev).
include_guard(GLOBAL)

find_path(INIH_INCLUDE_DIR ini.h REQUIRED)
find_library(INIH_LIB inih REQUIRED)
add_library(inih INTERFACE)
target_include_directories(inih SYSTEM INTERFACE ${INIH_INCLUDE_DIR})
target_link_libraries(inih INTERFACE ${INIH_LIB})
