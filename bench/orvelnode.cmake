# vorn_bench_orvelnode: round trips and throughput of small JSON-RPC
# requests through a real orvelnode process's standard input and output.
if(TARGET orvelnode AND TARGET orvel_sample)
  add_executable(vorn_bench_orvelnode ${CMAKE_CURRENT_LIST_DIR}/orvelnode_bench.cpp)
  target_link_libraries(vorn_bench_orvelnode PRIVATE Vorn::Core benchmark::benchmark vorn_warnings)
  target_include_directories(vorn_bench_orvelnode PRIVATE ${PROJECT_SOURCE_DIR}/apps/orvelnode)
  target_compile_definitions(vorn_bench_orvelnode PRIVATE
    ORVELNODE="$<TARGET_FILE:orvelnode>"
    SAMPLE_MANIFEST="${PROJECT_SOURCE_DIR}/examples/sample/manifest.json")
  add_dependencies(vorn_bench_orvelnode orvelnode orvel_sample vorn_basic_tweakers)
endif()

# vorn_bench_orvelnode_ws: the same over WebSocket, with fan-out of events.
if(TARGET orvelnode AND TARGET orvel_sample AND ORVEL_BEAST_INCLUDE_DIR)
  add_executable(vorn_bench_orvelnode_ws ${CMAKE_CURRENT_LIST_DIR}/orvelnode_ws_bench.cpp)
  target_link_libraries(vorn_bench_orvelnode_ws PRIVATE Vorn::Core benchmark::benchmark vorn_warnings Threads::Threads)
  target_include_directories(vorn_bench_orvelnode_ws PRIVATE ${PROJECT_SOURCE_DIR}/apps/orvelnode)
  target_include_directories(vorn_bench_orvelnode_ws SYSTEM PRIVATE ${ORVEL_BEAST_INCLUDE_DIR})
  target_compile_definitions(vorn_bench_orvelnode_ws PRIVATE
    ORVELNODE="$<TARGET_FILE:orvelnode>"
    SAMPLE_MANIFEST="${PROJECT_SOURCE_DIR}/examples/sample/manifest.json")
  add_dependencies(vorn_bench_orvelnode_ws orvelnode orvel_sample vorn_basic_tweakers)
endif()

# vorn_bench_orvelnode_rss: whether orvelnode's resident memory stays flat
# over many WebSocket connections and many stdio calls.
if(TARGET orvelnode AND TARGET orvel_sample AND ORVEL_BEAST_INCLUDE_DIR)
  add_executable(vorn_bench_orvelnode_rss ${CMAKE_CURRENT_LIST_DIR}/orvelnode_rss_bench.cpp)
  target_link_libraries(vorn_bench_orvelnode_rss PRIVATE benchmark::benchmark vorn_warnings Threads::Threads)
  target_include_directories(vorn_bench_orvelnode_rss PRIVATE ${PROJECT_SOURCE_DIR}/apps/orvelnode)
  target_include_directories(vorn_bench_orvelnode_rss SYSTEM PRIVATE ${ORVEL_BEAST_INCLUDE_DIR})
  target_compile_definitions(vorn_bench_orvelnode_rss PRIVATE
    ORVELNODE="$<TARGET_FILE:orvelnode>"
    SAMPLE_MANIFEST="${PROJECT_SOURCE_DIR}/examples/sample/manifest.json")
  add_dependencies(vorn_bench_orvelnode_rss orvelnode orvel_sample vorn_basic_tweakers)
endif()
