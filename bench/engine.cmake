# Micro-benchmarks of the engine, built when Google Benchmark is installed.
find_package(benchmark QUIET)
if(benchmark_FOUND)
  add_executable(findpattern_bench ${CMAKE_CURRENT_LIST_DIR}/FindPattern_bench.cpp)
  target_link_libraries(findpattern_bench PRIVATE vorn_search benchmark::benchmark)
endif()
