# Run by CPack while it stages the Debian package: adds the files every Debian package carries
# in its documentation folder, and refuses a package whose program would update itself, since
# the system's package manager owns the files it installed.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
if(CPACK_VORN_SELF_UPDATE)
  message(FATAL_ERROR "The Debian package needs a build configured with -DVORN_SELF_UPDATE=OFF "
                      "(the release preset does this).")
endif()
set(doc "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${CPACK_VORN_DOCDIR}")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_VORN_DEBIAN_DIR}/copyright" "${doc}/copyright")
file(COPY_FILE "${CPACK_VORN_DEBIAN_DIR}/changelog" "${doc}/changelog")
execute_process(COMMAND gzip -9nf "${doc}/changelog" COMMAND_ERROR_IS_FATAL ANY)
