# The nightly runs of a demo school with a full year of absences through the
# built bridge: first and second update export against the raw read and a
# baseline build, and the full export with and without its flushes.
if(TARGET morv_demo AND TARGET morv_test_support AND TARGET morvbridge AND TARGET morv_call_shim)
  morv_add_bench(update_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/update_export_bench.cpp
    LIBS morv_demo morv_test_support morv_sqlite)
  add_dependencies(update_bench morvbridge morv_call_shim)
endif()
