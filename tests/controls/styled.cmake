# Tests of the styled controls, the link label and the build label.
add_executable(controls_styled_tests
  ${CMAKE_CURRENT_LIST_DIR}/dxCoreUtils_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxButtons_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxCheckCtrls_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxContainer_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/URLLabel_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BuildLabel_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PaintRatio_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ScrollBarStyle_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TextBytes_test.cpp)
target_link_libraries(controls_styled_tests PRIVATE vorn_controls vorn_test_support
  vorn_gui_test_main Qt6::Test GTest::gtest GTest::gmock)
# Programs whose files the version record tests read: with the record, with strings in another
# table, and without a record.
add_executable(version_probe ${CMAKE_CURRENT_LIST_DIR}/version_probe.cpp)
vorn_add_version_record(version_probe)
add_executable(version_probe_other ${CMAKE_CURRENT_LIST_DIR}/version_probe.cpp)
vorn_add_version_record(version_probe_other TABLE 040904B0 STRINGS FileVersion 7.7)
add_executable(version_probe_bare ${CMAKE_CURRENT_LIST_DIR}/version_probe.cpp)
foreach(probe version_probe version_probe_other version_probe_bare)
  target_link_libraries(${probe} PRIVATE vorn_flags)
endforeach()
vorn_add_version_record(controls_styled_tests)
add_dependencies(controls_styled_tests version_probe version_probe_other version_probe_bare)
target_compile_definitions(controls_styled_tests PRIVATE
  VORN_PROBE="$<TARGET_FILE:version_probe>"
  VORN_PROBE_OTHER="$<TARGET_FILE:version_probe_other>"
  VORN_PROBE_BARE="$<TARGET_FILE:version_probe_bare>")
gtest_discover_tests(controls_styled_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
