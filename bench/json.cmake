# vorn_bench_json: JSON parsing and text output on the shared corpus, side by
# side with nlohmann/json and RapidJSON when their headers are installed.
find_package(nlohmann_json 3 QUIET)
find_path(VORN_RAPIDJSON_INCLUDE_DIR rapidjson/document.h)

add_executable(vorn_bench_json ${CMAKE_CURRENT_SOURCE_DIR}/json_bench.cpp)
target_link_libraries(vorn_bench_json PRIVATE Vorn::Core benchmark::benchmark vorn_warnings)
get_filename_component(VORN_BENCH_JSON_DATA "${PROJECT_SOURCE_DIR}/../shared/bench-data" ABSOLUTE)
target_compile_definitions(vorn_bench_json PRIVATE VORN_BENCH_DATA_DEFAULT="${VORN_BENCH_JSON_DATA}")

if(nlohmann_json_FOUND)
  target_link_libraries(vorn_bench_json PRIVATE nlohmann_json::nlohmann_json)
  target_compile_definitions(vorn_bench_json PRIVATE VORN_BENCH_WITH_NLOHMANN)
else()
  message(STATUS "nlohmann/json not found: vorn_bench_json runs without it")
endif()
if(VORN_RAPIDJSON_INCLUDE_DIR)
  target_include_directories(vorn_bench_json SYSTEM PRIVATE ${VORN_RAPIDJSON_INCLUDE_DIR})
  target_compile_definitions(vorn_bench_json PRIVATE VORN_BENCH_WITH_RAPIDJSON)
else()
  message(STATUS "RapidJSON not found: vorn_bench_json runs without it")
endif()
