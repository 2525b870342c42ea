# Tests of the result actions: included by this folder's CMakeLists.txt.
add_executable(actions_tests ${CMAKE_CURRENT_LIST_DIR}/ResultActions_test.cpp)
target_link_libraries(actions_tests PRIVATE vorn_actions vorn_test_support vorn_gui_test_main GTest::gtest GTest::gmock Qt6::Test)
gtest_discover_tests(actions_tests DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
