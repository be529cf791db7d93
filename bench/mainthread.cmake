# Scheduler lateness and timeout set/remove cost, against Boost.Asio timers.
add_executable(vorn_bench_mainthread ${CMAKE_CURRENT_LIST_DIR}/mainthread_bench.cpp)
target_link_libraries(vorn_bench_mainthread PRIVATE Vorn::Core benchmark::benchmark vorn_warnings)
find_package(Boost 1.70 QUIET)
if(Boost_FOUND)
  target_link_libraries(vorn_bench_mainthread PRIVATE Boost::boost)
  target_compile_definitions(vorn_bench_mainthread PRIVATE VORN_BENCH_HAVE_ASIO=1)
endif()
