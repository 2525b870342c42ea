# The styled controls, the link label and the build label.
target_sources(vorn_controls PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/dxCoreUtils.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxCore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxButtons.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxCheckCtrls.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxContainer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/URLLabel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VersionRecord.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BuildLabel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/styled.qrc)

# vorn_add_version_record(), for the programs that carry a version record.
include(${CMAKE_CURRENT_LIST_DIR}/VersionRecord.cmake)
