# JOBS=n that is no number of jobs stops `make` at once with a line that
# names it, from its command line or the environment, before anything is
# built or installed.
cmake_policy(SET CMP0007 NEW)
set(clean ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS --unset=MAKELEVEL --unset=JOBS)
foreach(jobs "abc" "0" "-2" "4x" "4 4")
  foreach(form "environment" "command line")
    if(form STREQUAL "environment")
      set(env "JOBS=${jobs}")
      set(arg "")
    else()
      set(env "")
      set(arg "JOBS=${jobs}")
    endif()
    execute_process(COMMAND ${clean} ${env} make --no-print-directory -n -C ${SOURCE_DIR} run ${arg}
      OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
    if(status EQUAL 0 OR out MATCHES "cmake" OR NOT err MATCHES "JOBS=${jobs} is not a number of jobs")
      message(FATAL_ERROR "JOBS=\"${jobs}\" from the ${form}: status ${status}\n${err}\n${out}")
    endif()
  endforeach()
endforeach()
