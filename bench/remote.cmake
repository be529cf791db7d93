# Registry lookups under a concurrent writer, against a locked std::unordered_map;
# and the cost of one remote-object call round trip.
add_executable(vorn_bench_remote ${CMAKE_CURRENT_LIST_DIR}/remote_bench.cpp)
target_link_libraries(vorn_bench_remote PRIVATE Vorn::Core benchmark::benchmark vorn_warnings)
