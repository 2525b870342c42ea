# The Debian package: "cpack -G DEB" in a release build (the release preset) makes
# vorn_<version>_<arch>.deb, with its dependencies computed from the programs.
set(CPACK_PACKAGE_NAME "vorn")
set(CPACK_PACKAGE_VENDOR "the Tessaly authors")
set(CPACK_PACKAGE_CONTACT "The Tessaly authors <tessaly@quilloware.example>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find text in the files of a folder")
# Lines of the extended description stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION "Tessaly names a folder, a file mask and a text, and lists every line of
the matching files that holds the text, with the file's path and the line's
number. A found file opens in a built-in viewer with the text marked, or in
the desktop's file manager. The command vorn-find runs the same search in a
terminal.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://${VORN_MAKER_HOST}/quillo/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The windows' faces: one of those the layout's sizes were made for (metric-compatible or
# condensed); without them the captions are narrowed to fit.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2 | fonts-croscore | fonts-dejavu-extra")
# The file manager and the browser are opened through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

set(CPACK_VORN_SELF_UPDATE ${VORN_SELF_UPDATE})
set(CPACK_VORN_DOCDIR "${CMAKE_INSTALL_DOCDIR}")
set(CPACK_VORN_DEBIAN_DIR "${PROJECT_SOURCE_DIR}/dist/debian")
set(CPACK_INSTALL_SCRIPTS "${PROJECT_SOURCE_DIR}/dist/debian/package-docs.cmake")
set(CPACK_VORN_STRIP "${CMAKE_STRIP}")
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/dist/debian/strip-sections.cmake")

set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/bench/cache/")
include(CPack)
