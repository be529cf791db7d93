# Publishing to N listeners against a plain loop over std::function callbacks.
add_executable(vorn_bench_events ${CMAKE_CURRENT_LIST_DIR}/events_bench.cpp)
target_link_libraries(vorn_bench_events PRIVATE Vorn::Core benchmark::benchmark vorn_warnings)
