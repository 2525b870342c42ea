# The result actions: included by this folder's CMakeLists.txt.
add_library(vorn_actions STATIC ${CMAKE_CURRENT_LIST_DIR}/ResultActions.cpp)
target_include_directories(vorn_actions PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vorn_actions PUBLIC vorn_viewer vorn_search vorn_about vorn_util vorn_flags Qt6::Widgets)
vorn_qt_target(vorn_actions)
