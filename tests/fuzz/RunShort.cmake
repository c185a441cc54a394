# cmake -DFUZZER=... -DSEED=... -DWORK=... -DRUNS=... -P RunShort.cmake
# Runs the fuzz target for RUNS executions from the seed corpus; new inputs
# and any crash input go below WORK, which starts empty.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
execute_process(
  COMMAND ${FUZZER} -runs=${RUNS} -seed=1 -max_len=1048576 -timeout=60 -rss_limit_mb=2048
          -malloc_limit_mb=512 -print_final_stats=1 -artifact_prefix=${WORK}/artifacts/
          ${WORK}/corpus ${SEED}
  WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the fuzz target failed (${result}); the input is in ${WORK}/artifacts")
endif()
