# The parallel search under OpenMP settings that give it fewer threads than it
# would ask for by default, and a stress run that would hang on a lost wake-up.
# Each entry runs part of a test program again with its own environment.

add_test(NAME ParallelTreeUnderThreadLimit
         COMMAND ParallelTreeTest --gtest_filter=*EveryNode*:*OuterParallelRegion*)
set_tests_properties(ParallelTreeUnderThreadLimit PROPERTIES
                     ENVIRONMENT "OMP_THREAD_LIMIT=2;OMP_NUM_THREADS=4"
                     TIMEOUT 120)
