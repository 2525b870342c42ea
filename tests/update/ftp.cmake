# The connection layer and the FTP client: a scripted fault server, the real update server,
# and the replay of the fuzz corpus.
add_library(vorn_ftp_test_support STATIC ScriptedServer.cpp UpdateServer.cpp)
target_include_directories(vorn_ftp_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vorn_ftp_test_support PUBLIC vorn_ftp vorn_test_support GTest::gtest)
target_compile_definitions(vorn_ftp_test_support PUBLIC
  VORN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  VORN_FUZZ_CORPUS="${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus")

add_executable(ftp_tests
  IdTCPConnection_test.cpp
  IdFTP_test.cpp
  IdFTPServer_test.cpp
  FtpFuzzCorpus_test.cpp
  fuzz/FtpParsersFuzz.cpp)
target_link_libraries(ftp_tests PRIVATE vorn_ftp_test_support GTest::gtest_main)
gtest_discover_tests(ftp_tests DISCOVERY_TIMEOUT 60)

# Downloads one file with the client; the download benchmark times it against curl.
add_executable(ftp_get FtpGet.cpp)
target_link_libraries(ftp_get PRIVATE vorn_ftp)
