# Run after the replays: fails when a replay left its scratch folder in its
# temporary folder (a target removes its own at exit), and clears it for
# the next run.
file(GLOB left LIST_DIRECTORIES true ${TMP_ROOT}/*/kivo-fuzz-*)
if(left)
  file(REMOVE_RECURSE ${left})
  message(FATAL_ERROR "scratch folders left behind: ${left}")
endif()
