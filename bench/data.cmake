# Reading a large table through the data access object (RunQuery,
# GetNextRecord, GetText), against the sqlite3 command-line shell dumping the
# same rows from the same file.
if(TARGET morv_data AND TARGET morv_test_support)
  morv_add_bench(data_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/data_read_bench.cpp
    LIBS morv_data morv_test_support)
endif()
