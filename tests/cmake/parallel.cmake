# The parallel search under OpenMP settings that grant it fewer threads than it
# would ask for by default, and a stress run that would hang on a lost wake-up.
# Each entry runs part of a test program (or the solver) again with its own
# environment and a timeout: a search that plans for more threads than it gets
# waits forever instead of failing.

set(fewerThreadsThanAskedFor "OMP_THREAD_LIMIT=2;OMP_NUM_THREADS=4")

add_test(NAME TreeSearchUnderThreadLimit
         COMMAND TreeSearchTest --gtest_filter=*EveryNode*:*OuterParallelRegion*)
set_tests_properties(TreeSearchUnderThreadLimit PROPERTIES
                     ENVIRONMENT "${fewerThreadsThanAskedFor}"
                     TIMEOUT 120)

add_test(NAME ParallelSearchUnderThreadLimit
         COMMAND SearchEngineTest --gtest_filter=*Optimum*Threads*:*OuterParallelRegion*)
set_tests_properties(ParallelSearchUnderThreadLimit PROPERTIES
                     ENVIRONMENT "${fewerThreadsThanAskedFor}"
                     TIMEOUT 120)

add_test(NAME ParallelSearchStress
         COMMAND SearchEngineTest --gtest_filter=*Stress*)
set_tests_properties(ParallelSearchStress PROPERTIES TIMEOUT 60)

set(parallelTsplibInstance ${CMAKE_SOURCE_DIR}/../shared/tsplib/ftv35.mat)
if(EXISTS ${parallelTsplibInstance})
    add_test(NAME SolverParallelOnASingleAllowedThread
             COMMAND solver parallel ${parallelTsplibInstance})
    set_tests_properties(SolverParallelOnASingleAllowedThread PROPERTIES
                         ENVIRONMENT "OMP_THREAD_LIMIT=1;OMP_NUM_THREADS=4"
                         PASS_REGULAR_EXPRESSION "^1473\n"
                         TIMEOUT 120)
endif()

# A lost node, a double expansion or a lost wake-up is a matter of timing, so
# the every-node-once check of the tree search runs again and again, at 1, 2,
# 3, 4, 8 and 16 threads each time, where one shows as a wrong count or a
# timeout; make test-tsan runs it under ThreadSanitizer as well.
add_test(NAME TreeSearchRepeated
         COMMAND TreeSearchTest --gtest_filter=*EveryNode* --gtest_repeat=10)
set_tests_properties(TreeSearchRepeated PROPERTIES TIMEOUT 900)
