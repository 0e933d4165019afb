# "defaults" on the configuration files that once hung the bridge or took
# hundreds of megabytes, against the importer's one-school file.
if(TARGET morvbridge)
  morv_add_bench(defaults_bench
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/defaults_bench.cpp)
  add_dependencies(defaults_bench morvbridge)
endif()
