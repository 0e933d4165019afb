# The attendance update export of a 20,000-student demo school: rows into the
# attendance cache against a bare SQLite bulk insert of the same rows, and the
# bridge's first and second update runs.
if(TARGET morv_cache AND TARGET morv_demo AND TARGET morv_test_support AND TARGET morvbridge)
  morv_add_bench(cache_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/cache_refresh_bench.cpp
    LIBS morv_cache morv_demo morv_test_support)
  add_dependencies(cache_bench morvbridge)
endif()
