# The styled controls, the link label and the build label.
target_sources(vorn_controls PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/dxCoreUtils.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxCore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxButtons.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxCheckCtrls.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxContainer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/URLLabel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BuildLabel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/styled.qrc)

# The version record reader links no Qt, so it is fuzzed on its own.
add_library(vorn_version_record STATIC ${CMAKE_CURRENT_LIST_DIR}/VersionRecord.cpp)
target_include_directories(vorn_version_record PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vorn_version_record PUBLIC vorn_util vorn_flags)
target_link_libraries(vorn_controls PUBLIC vorn_version_record)

# vorn_add_version_record(), for the programs that carry a version record.
include(${CMAKE_CURRENT_LIST_DIR}/VersionRecord.cmake)
