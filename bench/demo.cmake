# Writing the demo school database of 20,000 students, against plain
# prepared inserts of the same number of rows into one table.
if(TARGET morv_demo)
  morv_add_bench(demo_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/demo_generate_bench.cpp
    LIBS morv_demo)
endif()
