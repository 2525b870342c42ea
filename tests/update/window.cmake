# The update window and the update check: the window's handlers, and whole checks against the
# real update server and a scripted one, on a copy of a small program in a temporary folder.
add_executable(ftper_program ftper_program.cpp)
target_link_libraries(ftper_program PRIVATE vorn_flags)

add_executable(ftper_tests ftper_test.cpp UpdateCheck_test.cpp)
target_link_libraries(ftper_tests PRIVATE vorn_ftper vorn_ftp_test_support vorn_gui_test_main
  Qt6::Test GTest::gtest)
target_compile_definitions(ftper_tests PRIVATE VORN_TEST_PROGRAM="$<TARGET_FILE:ftper_program>")
add_dependencies(ftper_tests ftper_program)
gtest_discover_tests(ftper_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
