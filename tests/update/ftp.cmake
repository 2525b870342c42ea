# The connection layer and the FTP client: a scripted fault server, the real update server,
# and the fuzz target of the parsers of the server's replies.
add_library(vorn_ftp_test_support STATIC ScriptedServer.cpp UpdateServer.cpp)
target_include_directories(vorn_ftp_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vorn_ftp_test_support PUBLIC vorn_ftp vorn_test_support GTest::gtest)
target_compile_definitions(vorn_ftp_test_support PUBLIC VORN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

add_executable(ftp_tests
  IdTCPConnection_test.cpp
  IdFTP_test.cpp
  IdFTPServer_test.cpp)
target_link_libraries(ftp_tests PRIVATE vorn_ftp_test_support GTest::gtest_main)
gtest_discover_tests(ftp_tests DISCOVERY_TIMEOUT 60)

vorn_fuzz_target(ftp_parsers SOURCES fuzz/FtpParsersFuzz.cpp LIBRARIES vorn_ftp)

# Downloads one file with the client; the download benchmark times it against curl.
add_executable(ftp_get FtpGet.cpp)
target_link_libraries(ftp_get PRIVATE vorn_ftp)
