# The connection layer and the FTP client: plain C++ over POSIX sockets, no Qt.
add_library(vorn_ftp STATIC
  IdStream.cpp
  IdRFCReply.cpp
  IdIOHandlerSocket.cpp
  IdTCPConnection.cpp
  IdTCPClient.cpp
  IdFTP.cpp)
target_include_directories(vorn_ftp PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vorn_ftp PUBLIC vorn_idcore vorn_util vorn_flags)
