# vx_warnings(target...): our warning flags, errors unless VX_WERROR is off.
include_guard(GLOBAL)

option(VX_WERROR "Treat warnings in our own code as errors" ON)

# The fortified C library, as Debian's hardened builds have it, so that its
# warnings (an ignored result that matters) stop our own builds first.  It
# needs the optimiser, and the sanitizers check the same things their way.
if(NOT VX_SANITIZE AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  set(VX_FORTIFY -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
endif()

function(vx_warnings)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wformat=2 ${VX_FORTIFY}
                           $<$<BOOL:${VX_WERROR}>:-Werror>)
  endforeach()
endfunction()
