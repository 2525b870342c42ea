# The viewer's loading benchmark (run by bench/viewer.sh); included from viewer/CMakeLists.txt.
add_executable(vorn_viewer_bench ${CMAKE_CURRENT_LIST_DIR}/viewer_bench.cpp)
target_link_libraries(vorn_viewer_bench PRIVATE vorn_viewer vorn_flags Qt6::Widgets)
