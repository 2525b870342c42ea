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
target_compile_definitions(ftper_program PRIVATE FTPER_VERSION="${PROJECT_VERSION}")
target_compile_definitions(ftper_program_next PRIVATE FTPER_VERSION="${vorn_next_version}")
target_compile_definitions(ftper_program_older PRIVATE FTPER_VERSION="0.0.0.1")
target_compile_definitions(ftper_program_other PRIVATE FTPER_VERSION="${vorn_next_version}")
# Newer builds that fail the handshake: one crashes, one hangs, one says another version, and
# one needs a library that is not where the loader looks (the build sets no path to it).
add_library(ftper_missing SHARED ftper_missing.cpp)
foreach(fault crash hang wrong missing)
  add_executable(ftper_program_${fault} ftper_program.cpp)
  target_link_libraries(ftper_program_${fault} PRIVATE vorn_flags)
  vorn_add_version_record(ftper_program_${fault}
    STRINGS FileVersion ${vorn_next_version} ProductName ${PROJECT_NAME})
endforeach()
target_compile_definitions(ftper_program_crash PRIVATE FTPER_CRASH FTPER_VERSION="${vorn_next_version}")
target_compile_definitions(ftper_program_hang PRIVATE FTPER_HANG FTPER_VERSION="${vorn_next_version}")
target_compile_definitions(ftper_program_wrong PRIVATE FTPER_VERSION="0.0.0.1")
target_compile_definitions(ftper_program_missing PRIVATE FTPER_NEEDS_MISSING
  FTPER_VERSION="${vorn_next_version}")
target_link_libraries(ftper_program_missing PRIVATE ftper_missing)
set_target_properties(ftper_program_missing PROPERTIES SKIP_BUILD_RPATH TRUE)
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
  VORN_TEST_PROGRAM_OTHER="$<TARGET_FILE:ftper_program_other>"
  VORN_TEST_PROGRAM_CRASH="$<TARGET_FILE:ftper_program_crash>"
  VORN_TEST_PROGRAM_HANG="$<TARGET_FILE:ftper_program_hang>"
  VORN_TEST_PROGRAM_WRONG="$<TARGET_FILE:ftper_program_wrong>"
  VORN_TEST_PROGRAM_MISSING="$<TARGET_FILE:ftper_program_missing>")
add_dependencies(ftper_tests ftper_program ftper_program_next ftper_program_older
  ftper_program_other ftper_program_crash ftper_program_hang ftper_program_wrong
  ftper_program_missing)
gtest_discover_tests(ftper_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
