# Every window's captions under the default and a dark desktop palette.
add_executable(palette_tests Palette_test.cpp)
target_link_libraries(palette_tests PRIVATE vorn_app vorn_gui_test_main GTest::gtest Qt6::Test)
gtest_discover_tests(palette_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
