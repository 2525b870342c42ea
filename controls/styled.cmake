# The styled controls, the link label and the build label.
target_sources(vorn_controls PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/dxCoreUtils.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxCore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dxButtons.cpp)
