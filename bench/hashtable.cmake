# Vorn::HashTable against std::unordered_map and, when abseil is installed,
# absl::flat_hash_map.
add_executable(vorn_bench_hashtable ${CMAKE_CURRENT_LIST_DIR}/hashtable_bench.cpp)
target_link_libraries(vorn_bench_hashtable PRIVATE benchmark::benchmark Vorn::Core vorn_warnings)
find_package(absl CONFIG QUIET)
if(absl_FOUND)
  target_link_libraries(vorn_bench_hashtable PRIVATE absl::flat_hash_map absl::hash)
  target_compile_definitions(vorn_bench_hashtable PRIVATE VORN_BENCH_HAVE_ABSL=1)
else()
  message(STATUS "abseil not found: the hash table benchmark runs without absl::flat_hash_map")
  target_compile_definitions(vorn_bench_hashtable PRIVATE VORN_BENCH_HAVE_ABSL=0)
endif()
