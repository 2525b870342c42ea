# Run by CPack on the staged Debian package, after its programs were stripped: takes out the
# sections a Debian package's programs do not carry (the compilers' .comment and the bare
# .note), as Debian's own packaging does. The build's version record section stays.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
if(NOT programs)
  message(FATAL_ERROR "No programs staged under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin")
endif()
foreach(program IN LISTS programs)
  execute_process(
    COMMAND "${CPACK_VORN_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
