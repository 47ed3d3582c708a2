# `make` takes its number of jobs from JOBS=n on its command line or in the
# environment, and uses every core without it. What the outer make passes
# down (its own JOBS=n among it) is cleared: only the form tried counts.
cmake_policy(SET CMP0007 NEW)
set(clean ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS --unset=MAKELEVEL --unset=JOBS)
execute_process(COMMAND nproc OUTPUT_VARIABLE cores OUTPUT_STRIP_TRAILING_WHITESPACE)
foreach(form "environment;JOBS=3;;3" "command line;;JOBS=3;3" "both;JOBS=5;JOBS=3;3" "neither;;;${cores}")
  list(GET form 0 name)
  list(GET form 1 env)
  list(GET form 2 arg)
  list(GET form 3 expected)
  execute_process(COMMAND ${clean} ${env} make --no-print-directory -n -C ${SOURCE_DIR} run ${arg}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "make -n run (JOBS from ${name}) failed: ${err}")
  endif()
  if(NOT out MATCHES "cmake --build build/release -j ${expected} ")
    message(FATAL_ERROR "JOBS from ${name}: expected -j ${expected} in:\n${out}")
  endif()
endforeach()
