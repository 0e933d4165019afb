# The full table export of a 20,000-student demo school through the built
# bridge, against the sqlite3 shell dumping the same source tables.
if(TARGET morv_demo AND TARGET morv_test_support AND TARGET morvbridge)
  morv_add_bench(engine_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/engine_export_bench.cpp
    LIBS morv_demo morv_test_support)
  add_dependencies(engine_bench morvbridge)
endif()

# The same export read through the suite's own PostgreSQL server, against
# psql, and through a link that adds 5 ms each way.
if(TARGET morv_demo AND TARGET morv_test_support AND TARGET morvbridge)
  morv_add_bench(postgres_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/postgres_export_bench.cpp
    LIBS morv_demo morv_test_support)
  add_dependencies(postgres_bench morvbridge)
  find_package(Threads REQUIRED)
  target_link_libraries(postgres_bench PRIVATE Threads::Threads)
endif()

# The same export of a 2,000-student school read through FreeTDS from the
# suite's stand-in SQL Server, with the bridge's and the server's CPU share.
if(TARGET morv_demo AND TARGET morv_test_support AND TARGET morvbridge)
  morv_add_bench(freetds_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/freetds_export_bench.cpp
    LIBS morv_demo morv_test_support)
  add_dependencies(freetds_bench morvbridge)
endif()
