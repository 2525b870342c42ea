# The echo probe: decoding and the wait through the seams, then real sockets on the loopback
# and in network namespaces the tests make.
add_executable(probe_tests IdIcmpClient_test.cpp ProbeHost_test.cpp)
target_link_libraries(probe_tests PRIVATE vorn_probe GTest::gtest_main)
gtest_discover_tests(probe_tests DISCOVERY_TIMEOUT 60)

vorn_fuzz_target(icmp_reply SOURCES fuzz/IcmpReplyFuzz.cpp LIBRARIES vorn_probe)
