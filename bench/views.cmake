# vorn_bench_views: generating a view's tweakers over a typed tree, and the
# cost of one model change reaching its tweaker and one tweaker edit
# reaching its model object, at 100 and 10,000 objects.
if(TARGET vorn_basic_tweakers)
  add_executable(vorn_bench_views ${CMAKE_CURRENT_LIST_DIR}/views_bench.cpp)
  target_link_libraries(vorn_bench_views PRIVATE Vorn::Core benchmark::benchmark vorn_warnings)
  target_compile_definitions(vorn_bench_views PRIVATE
    VORN_BENCH_INSTALL_DIR="${PROJECT_SOURCE_DIR}" VORN_BENCH_PLUGIN_DIR="${VORN_PLUGIN_OUTPUT_DIR}")
  add_dependencies(vorn_bench_views vorn_basic_tweakers)
endif()
