# The export writer's row loop against plain buffered fwrite of the same bytes.
if(TARGET morv_export)
  morv_add_bench(export_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/export_writer.cpp LIBS morv_export)
endif()
