# Tests of the styled controls, the link label and the build label.
add_executable(controls_styled_tests
  ${CMAKE_CURRENT_LIST_DIR}/styled_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxCoreUtils_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxButtons_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxCheckCtrls_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxContainer_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/URLLabel_test.cpp)
target_link_libraries(controls_styled_tests PRIVATE vorn_controls vorn_test_support
  Qt6::Test GTest::gtest GTest::gmock)
gtest_discover_tests(controls_styled_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
