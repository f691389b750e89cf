# Warning flags for this project's own targets. Each compiler release brings
# new warnings, so they become errors only where we choose (JSONTREE_WERROR:
# make check, make arm, CI), never in an integrator's build, and never in
# GoogleTest, benchmark baselines or other third-party code.
option(JSONTREE_WERROR "Treat warnings in this project's own targets as errors" OFF)

function(jsontree_warnings)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${JSONTREE_WERROR}>:-Werror>)
  endforeach()
endfunction()
