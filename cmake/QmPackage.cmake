# The Debian package: `cpack -G DEB` in the build directory, after a build.
# The shared libraries the program links are found by dpkg-shlibdeps (see
# QmPackageDeps.cmake.in); what it loads by name at run time is listed by
# hand: Mesa's EGL and its drivers (software rendering included), SDL2,
# FluidSynth and libcurl (opened at first use), and tkdnd for files dropped
# on the window. The desktop files need no scripts of their own: the MIME,
# menu and icon databases are brought up to date by the triggers of the
# packages that own them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmoor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quillmoor")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "browser for VRML 1.0 worlds")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Quillmoor opens VRML 1.0 worlds from files and the web in a window and\n"
  "lets you walk through them, follow their anchors and run the scripts\n"
  "that come with them in a safe interpreter. It can also check worlds and\n"
  "draw them into pictures without a display.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quillmoor developers <quillmoor@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/QmPackageDeps.cmake INPUT ${CMAKE_CURRENT_LIST_DIR}/QmPackageDeps.cmake.in)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/QmPackageDeps.cmake)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libegl-mesa0, libgl1-mesa-dri, libsdl2-2.0-0, libfluidsynth3, libcurl4")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tkdnd, xdg-utils, shared-mime-info, desktop-file-utils")
# Only the browser goes in the package: the build's tools stay behind.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/")
include(CPack)
