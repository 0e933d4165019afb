# Reading a large table through the recordset layer, against the sqlite3
# command-line shell dumping the same rows from the same file.
morv_add_bench(odbc_bench
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/odbc_recordset_bench.cpp
  LIBS morv_odbc morv_test_support)
