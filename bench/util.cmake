# Benchmarks of the utility library: the delimited writer against plain
# buffered fwrite, and date formatting.
morv_add_bench(util_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/util_writer_bench.cpp ${CMAKE_CURRENT_LIST_DIR}/util_date_bench.cpp
  LIBS morv_util)
