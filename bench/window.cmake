# The window benchmark's program, built with the main window it measures.
add_executable(window_bench ${CMAKE_CURRENT_LIST_DIR}/window_bench.cpp)
target_link_libraries(window_bench PRIVATE vorn_app vorn_flags)
