# vorn_bench_model: building a data tree record by record through the data
# manager, then updating every node by id; time per operation and heap per
# node at 1,000 to 1,000,000 nodes; a build into fresh memory against the page
# faults of touching as many fresh bytes.
add_executable(vorn_bench_model ${CMAKE_CURRENT_LIST_DIR}/model_bench.cpp)
target_link_libraries(vorn_bench_model PRIVATE Vorn::Core benchmark::benchmark vorn_warnings)
target_compile_definitions(vorn_bench_model PRIVATE VORN_BENCH_INSTALL_DIR="${PROJECT_SOURCE_DIR}")
