# vx_warnings(target...): our warning flags, errors unless VX_WERROR is off.
include_guard(GLOBAL)

option(VX_WERROR "Treat warnings in our own code as errors" ON)

function(vx_warnings)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wformat=2
                           $<$<BOOL:${VX_WERROR}>:-Werror>)
  endforeach()
endfunction()
