# Seeded random-input runs of the HNConfig.xml reader and the option scanner,
# bounded in time; a fault stops the benchmark with the input saved.
if(TARGET morv_app AND TARGET morv_test_support)
  morv_add_bench(fuzz_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_bench.cpp
    LIBS morv_app morv_test_support)
endif()
