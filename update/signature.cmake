# The maker's signature on updates: Ed25519 through libsodium, against a public key fixed at
# build time. A release passes the maker's key as 64 hex digits; a development build asks for
# a development key pair made in the build folder (VORN_UPDATE_DEV_KEY, on in the presets for
# development), so the local update server can sign. A copy that updates itself is never
# configured without one or the other.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)

set(VORN_UPDATE_PUBLIC_KEY "" CACHE STRING
  "Public key updates must be signed with (64 hex digits, the maker's own key)")
option(VORN_UPDATE_DEV_KEY
  "Without VORN_UPDATE_PUBLIC_KEY, check updates against a development key made in the build folder"
  OFF)
set(VORN_UPDATE_DEV_KEY_DIR "${CMAKE_BINARY_DIR}/update-key")
if(NOT VORN_UPDATE_PUBLIC_KEY STREQUAL "")
  set(vorn_update_key "${VORN_UPDATE_PUBLIC_KEY}")
elseif(VORN_UPDATE_DEV_KEY)
  if(NOT EXISTS "${VORN_UPDATE_DEV_KEY_DIR}/vorn-update.pub")
    execute_process(
      COMMAND "${PROJECT_SOURCE_DIR}/scripts/make-update-key" "${VORN_UPDATE_DEV_KEY_DIR}"
      RESULT_VARIABLE made OUTPUT_QUIET ERROR_VARIABLE why)
    if(NOT made EQUAL 0)
      message(FATAL_ERROR "Could not make the development update key: ${why}")
    endif()
  endif()
  # A build folder inside the sources (an in-source build) must never offer the private key to git.
  file(WRITE "${VORN_UPDATE_DEV_KEY_DIR}/.gitignore" "*\n")
  file(STRINGS "${VORN_UPDATE_DEV_KEY_DIR}/vorn-update.pub" vorn_update_key LIMIT_COUNT 1)
  message(STATUS "Updates are checked against the development key in ${VORN_UPDATE_DEV_KEY_DIR}")
elseif(VORN_SELF_UPDATE)
  message(FATAL_ERROR "A copy that updates itself needs the maker's public key: "
    "-DVORN_UPDATE_PUBLIC_KEY=<64 hex digits> (scripts/make-update-key makes a pair), or "
    "-DVORN_UPDATE_DEV_KEY=ON for a development key made in the build folder, or "
    "-DVORN_SELF_UPDATE=OFF")
else()
  # Never asked for an update: no key is built in, and a zero key accepts no signature.
  string(REPEAT "0" 64 vorn_update_key)
endif()
if(NOT vorn_update_key MATCHES "^[0-9A-Fa-f]+$")
  message(FATAL_ERROR "VORN_UPDATE_PUBLIC_KEY must be 64 hex digits, not '${vorn_update_key}'")
endif()
string(LENGTH "${vorn_update_key}" vorn_update_key_length)
if(NOT vorn_update_key_length EQUAL 64)
  message(FATAL_ERROR "VORN_UPDATE_PUBLIC_KEY must be 64 hex digits, not '${vorn_update_key}'")
endif()
if(NOT VORN_UPDATE_PUBLIC_KEY STREQUAL "" AND vorn_update_key MATCHES "^0+$")
  message(FATAL_ERROR "VORN_UPDATE_PUBLIC_KEY is all zeros, which is no key")
endif()
# A key that is not a point of the main subgroup (the identity, another point of small order,
# no point at all) verifies no signature: a build with it could never install an update.
if(NOT vorn_update_key MATCHES "^0+$")
  unset(vorn_update_key_valid CACHE)
  unset(vorn_update_key_check_built CACHE)
  try_run(vorn_update_key_valid vorn_update_key_check_built
    "${CMAKE_BINARY_DIR}/update-key-check" "${CMAKE_CURRENT_SOURCE_DIR}/UpdateKeyCheck.cpp"
    COMPILE_DEFINITIONS "-DVORN_KEY=${vorn_update_key}"
    LINK_LIBRARIES PkgConfig::SODIUM
    COMPILE_OUTPUT_VARIABLE vorn_update_key_check_output)
  if(NOT vorn_update_key_check_built)
    message(FATAL_ERROR "Could not build the update key check: ${vorn_update_key_check_output}")
  endif()
  if(NOT vorn_update_key_valid EQUAL 0)
    message(FATAL_ERROR "VORN_UPDATE_PUBLIC_KEY '${vorn_update_key}' is no Ed25519 public key "
      "that a signature can verify under (the identity, a point of small order, or no point)")
  endif()
endif()

# The signature check, and the file steps of the swap and the restart that follow it.
add_library(vorn_install STATIC UpdateSignature.cpp ProgramSwap.cpp MappedFile.cpp)
target_include_directories(vorn_install PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(vorn_install PUBLIC vorn_flags PRIVATE vorn_util PkgConfig::SODIUM)
target_compile_definitions(vorn_install PRIVATE VORN_UPDATE_PUBLIC_KEY="${vorn_update_key}")
