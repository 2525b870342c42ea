# The progress gauge, drawn off-screen and grabbed pixel by pixel.
add_executable(gauge_tests Gauges_test.cpp)
target_link_libraries(gauge_tests PRIVATE vorn_controls vorn_gui_test_main Qt6::Test GTest::gtest)
gtest_discover_tests(gauge_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
