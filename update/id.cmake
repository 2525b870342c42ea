# Errors and name resolution shared by the connection layer and the echo probe.
add_library(vorn_idcore STATIC IdException.cpp IdResolve.cpp)
target_include_directories(vorn_idcore PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vorn_idcore PUBLIC vorn_flags)
