# The update window and the update check: the window's handlers, and whole checks against the
# real update server and a scripted one, on a copy of a small program in a temporary folder.
# The test program carries the version record every build of the program carries; the update
# candidates carry a newer and an older version, and another program's name.
math(EXPR vorn_next_tweak "${PROJECT_VERSION_TWEAK} + 1")
set(vorn_next_version
  "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${vorn_next_tweak}")
foreach(candidate ftper_program ftper_program_next ftper_program_older ftper_program_other)
  add_executable(${candidate} ftper_program.cpp)
  target_link_libraries(${candidate} PRIVATE vorn_flags)
endforeach()
vorn_add_version_record(ftper_program)
vorn_add_version_record(ftper_program_next
  STRINGS FileVersion ${vorn_next_version} ProductName ${PROJECT_NAME})
vorn_add_version_record(ftper_program_older STRINGS FileVersion 0.0.0.1 ProductName ${PROJECT_NAME})
vorn_add_version_record(ftper_program_other STRINGS FileVersion ${vorn_next_version} ProductName Other)

add_executable(ftper_tests ftper_test.cpp UpdateCheck_test.cpp)
target_link_libraries(ftper_tests PRIVATE vorn_ftper vorn_ftp_test_support vorn_gui_test_main
  Qt6::Test GTest::gtest)
# The tests are the running build the check compares an update with.
vorn_add_version_record(ftper_tests)
target_compile_definitions(ftper_tests PRIVATE
  VORN_TEST_PROGRAM="$<TARGET_FILE:ftper_program>"
  VORN_TEST_PROGRAM_NEXT="$<TARGET_FILE:ftper_program_next>"
  VORN_TEST_PROGRAM_OLDER="$<TARGET_FILE:ftper_program_older>"
  VORN_TEST_PROGRAM_OTHER="$<TARGET_FILE:ftper_program_other>")
add_dependencies(ftper_tests ftper_program ftper_program_next ftper_program_older
  ftper_program_other)
gtest_discover_tests(ftper_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
