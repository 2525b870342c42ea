# Where an install puts the programs and the files a desktop needs to show them: the desktop
# entry and KDE's service menu, the icons, the AppStream metainfo, the man pages, vorn-find's
# bash completion, the licence and the README.

include(GNUInstallDirs)
# The documentation folder carries the package's name, as distributions lay it out, unless the
# one who builds names another.
if("$CACHE{CMAKE_INSTALL_DOCDIR}" STREQUAL "")
  set(CMAKE_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/vorn")
endif()

set(dist "${PROJECT_SOURCE_DIR}/dist/unix")

# Man pages are installed compressed, as man(1) reads them and distributions ship them.
set(man_pages vorn-find.1)
if(VORN_BUILD_GUI)
  list(APPEND man_pages vorn.1)
endif()
foreach(page ${man_pages})
  set(gz "${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz")
  add_custom_command(OUTPUT "${gz}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/man"
    COMMAND gzip -9nc "${dist}/man/${page}" > "${gz}"
    DEPENDS "${dist}/man/${page}" VERBATIM)
  list(APPEND man_gz "${gz}")
endforeach()
add_custom_target(vorn_man_pages ALL DEPENDS ${man_gz})
install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(TARGETS vorn-find RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# bash-completion loads a command's completion on first use from this folder.
install(FILES "${dist}/completions/vorn-find"
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

if(VORN_BUILD_GUI)
  install(TARGETS vorn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES "${dist}/${VORN_APP_ID}.desktop"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # "Search this folder" in KDE's file manager; the desktop entry claims no folders, so the
  # program never becomes the one that opens them.
  install(FILES "${dist}/kio/${VORN_APP_ID}.search-folder.desktop"
    DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus)
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
