# The maker's signature on updates: Ed25519 through libsodium, against a public key fixed at
# build time. A release passes the maker's key as 64 hex digits; left empty, a development key
# pair is made in the build folder (never in the sources) so the local update server can sign.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)

set(VORN_UPDATE_PUBLIC_KEY "" CACHE STRING
  "Public key updates must be signed with (64 hex digits); empty: a development key in the build folder")
set(VORN_UPDATE_DEV_KEY_DIR "${CMAKE_BINARY_DIR}/update-key")
if(VORN_UPDATE_PUBLIC_KEY STREQUAL "")
  if(NOT EXISTS "${VORN_UPDATE_DEV_KEY_DIR}/vorn-update.pub")
    execute_process(
      COMMAND "${PROJECT_SOURCE_DIR}/scripts/make-update-key" "${VORN_UPDATE_DEV_KEY_DIR}"
      RESULT_VARIABLE made OUTPUT_QUIET ERROR_VARIABLE why)
    if(NOT made EQUAL 0)
      message(FATAL_ERROR "Could not make the development update key: ${why}")
    endif()
  endif()
  file(STRINGS "${VORN_UPDATE_DEV_KEY_DIR}/vorn-update.pub" vorn_update_key LIMIT_COUNT 1)
  message(STATUS "Updates are checked against the development key in ${VORN_UPDATE_DEV_KEY_DIR}")
else()
  set(vorn_update_key "${VORN_UPDATE_PUBLIC_KEY}")
endif()
if(NOT vorn_update_key MATCHES "^[0-9A-Fa-f]+$")
  message(FATAL_ERROR "VORN_UPDATE_PUBLIC_KEY must be 64 hex digits, not '${vorn_update_key}'")
endif()
string(LENGTH "${vorn_update_key}" vorn_update_key_length)
if(NOT vorn_update_key_length EQUAL 64)
  message(FATAL_ERROR "VORN_UPDATE_PUBLIC_KEY must be 64 hex digits, not '${vorn_update_key}'")
endif()

# The signature check, and the file steps of the swap and the restart that follow it.
add_library(vorn_install STATIC UpdateSignature.cpp ProgramSwap.cpp)
target_include_directories(vorn_install PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vorn_install PUBLIC vorn_flags PRIVATE vorn_util PkgConfig::SODIUM)
target_compile_definitions(vorn_install PRIVATE VORN_UPDATE_PUBLIC_KEY="${vorn_update_key}")
