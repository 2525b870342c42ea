# Where an install puts the programs and the files a desktop needs to show them: the desktop
# entry, the icons, the AppStream metainfo, the man pages, the licence and the README.

include(GNUInstallDirs)
# The documentation folder carries the package's name, as distributions lay it out, unless the
# one who builds names another.
if("$CACHE{CMAKE_INSTALL_DOCDIR}" STREQUAL "")
  set(CMAKE_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/vorn")
endif()

set(dist "${PROJECT_SOURCE_DIR}/dist/unix")

install(TARGETS vorn-find RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES "${dist}/man/vorn-find.1" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(VORN_BUILD_GUI)
  install(TARGETS vorn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES "${dist}/man/vorn.1" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES "${dist}/${VORN_APP_ID}.desktop"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES "${dist}/${VORN_APP_ID}.metainfo.xml"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES "${dist}/icons/${VORN_APP_ID}.svg"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES "${dist}/icons/${VORN_APP_ID}-${size}.png"
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME ${VORN_APP_ID}.png)
  endforeach()
endif()

install(FILES LICENSE README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
