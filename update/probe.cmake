# The echo probe: ICMP echo client over POSIX sockets, no Qt.
add_library(vorn_probe STATIC IcmpSocket.cpp IdIcmpClient.cpp ProbeHost.cpp)
target_include_directories(vorn_probe PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vorn_probe PUBLIC vorn_idcore vorn_flags PRIVATE vorn_util)
