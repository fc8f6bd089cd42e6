# Nettle, the SHA-256 of the installation record (Debian's nettle-dev,
# LGPL); dpkg-shlibdeps adds libnettle8 to the package's dependencies.
include_guard(GLOBAL)

find_path(NETTLE_INCLUDE_DIR nettle/sha2.h REQUIRED)
find_library(NETTLE_LIB nettle REQUIRED)
add_library(nettle INTERFACE)
target_include_directories(nettle SYSTEM INTERFACE ${NETTLE_INCLUDE_DIR})
target_link_libraries(nettle INTERFACE ${NETTLE_LIB})
