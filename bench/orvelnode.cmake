# Benchmarks that drive a real orvelnode process with the sample manifest.
function(vorn_orvelnode_bench NAME SOURCE)
  add_executable(${NAME} ${CMAKE_CURRENT_LIST_DIR}/${SOURCE})
  target_link_libraries(${NAME} PRIVATE Vorn::Core benchmark::benchmark vorn_warnings Threads::Threads)
  target_include_directories(${NAME} PRIVATE ${PROJECT_SOURCE_DIR}/apps/orvelnode)
  target_include_directories(${NAME} SYSTEM PRIVATE ${ORVEL_BEAST_INCLUDE_DIR})
  target_compile_definitions(${NAME} PRIVATE
    ORVELNODE="$<TARGET_FILE:orvelnode>"
    SAMPLE_MANIFEST="${PROJECT_SOURCE_DIR}/examples/sample/manifest.json"
    SAMPLE_PLUGIN="$<TARGET_FILE:orvel_sample>"
    BASIC_TWEAKERS_PLUGIN="$<TARGET_FILE:vorn_basic_tweakers>")
  add_dependencies(${NAME} orvelnode orvel_sample vorn_basic_tweakers)
endfunction()

if(TARGET orvelnode AND TARGET orvel_sample AND ORVEL_BEAST_INCLUDE_DIR)
  # Round trips and throughput of small requests over standard input and output.
  vorn_orvelnode_bench(vorn_bench_orvelnode orvelnode_bench.cpp)
  # The same over WebSocket, with fan-out of events.
  vorn_orvelnode_bench(vorn_bench_orvelnode_ws orvelnode_ws_bench.cpp)
  # Whether resident memory stays flat over many connections and calls.
  vorn_orvelnode_bench(vorn_bench_orvelnode_rss orvelnode_rss_bench.cpp)
  # rpc.discover and vorn.describeSchema on 10,000 objects against vorn.getTree;
  # checked writes against unchecked ones and against a vorn.setValue round trip.
  vorn_orvelnode_bench(vorn_bench_orvelnode_methods orvelnode_methods_bench.cpp)
  target_compile_definitions(vorn_bench_orvelnode_methods PRIVATE VORN_BENCH_INSTALL_DIR="${PROJECT_SOURCE_DIR}")
  # The form view of 100,000 objects paged with vorn.describeView: the longest
  # call against 50 ms, with one vorn.getTree of the whole context as peer.
  vorn_orvelnode_bench(vorn_bench_orvelnode_paging orvelnode_paging_bench.cpp)
  target_compile_definitions(vorn_bench_orvelnode_paging PRIVATE VORN_BENCH_INSTALL_DIR="${PROJECT_SOURCE_DIR}")
endif()
