# One Debian package with the desktop tool, the simulator and, when built, the collector:
#     cd build && cpack -G DEB
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlan)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "VORLAN developers <vorlan@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Evaluate and debug the call records of a telephone exchange")
set(CPACK_PACKAGE_DESCRIPTION "VORLAN downloads the call records a telephone exchange emits over TCP,
shows them raw and formatted, and logs them to hourly files. The package also holds
pbxsim, a simulated exchange.")
if(TARGET vorlan-collect)
  string(APPEND CPACK_PACKAGE_DESCRIPTION
         "\nvorlan-collect downloads and logs without a window, one systemd service per exchange.")
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The build keeps debug info; the package does not need it.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Named as well in case dpkg-shlibdeps misses one. libqt6gui6 also holds the xcb and
# offscreen platform plugins, which are loaded at run time and so invisible to shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6core6, libqt6gui6, libqt6widgets6, libqt6network6, libqt6charts6")
# The services' password file is the administrator's: an upgrade keeps what was written in it.
if(TARGET vorlan-collect)
  file(WRITE ${PROJECT_BINARY_DIR}/conffiles "/etc/vorlan/collect/pgpass\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/conffiles)
endif()
include(CPack)
