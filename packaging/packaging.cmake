# Install layout and the Debian package.
#
#   /usr/bin/pelquarinthos-wired, pqw-hud, pqw-viewer, pqw-camsim
#       side by side: --sim finds pqw-camsim next to the daemon
#   /var/lib/pelquarinthos-wired/            the daemon's working directory
#       scripts/hdmi-change.sh, hdmi-mode.sh (+ boot-config.sh they share)
#       pelquarinthos.conf -> /run/pelquarinthos.conf
#   /lib/systemd/system/pelquarinthos-wired.service
#   /usr/share/pelquarinthos-wired/pelquarinthos-wired.conf
#       the default settings; postinst copies it to /boot only when the
#       user has none there
#   /usr/share/doc/pelquarinthos-wired/   README, simulation unit example
#
# Cross builds: -DCMAKE_TOOLCHAIN_FILE=packaging/toolchain-<triplet>.cmake.

# A system daemon with fixed absolute paths: /usr, not /usr/local.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "install prefix" FORCE)
endif()
include(GNUInstallDirs)

set(PQW_WORKDIR /var/lib/pelquarinthos-wired CACHE PATH "the daemon's working directory")
# Debian 12 and Raspberry Pi OS still ship units under /lib.
set(PQW_UNITDIR /lib/systemd/system CACHE PATH "systemd system unit directory")
set(PQW_DATADIR ${CMAKE_INSTALL_FULL_DATADIR}/pelquarinthos-wired)
set(PQW_DOCDIR ${CMAKE_INSTALL_FULL_DATADIR}/doc/pelquarinthos-wired)
set(PQW_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
set(pqw_pkg_src ${CMAKE_SOURCE_DIR}/packaging)
set(pqw_pkg_out ${CMAKE_BINARY_DIR}/packaging)

# Programs that exist in this tree (some arrive later).
set(PQW_INSTALLED_PROGRAMS "")
foreach(prog pelquarinthos-wired pqw-hud pqw-viewer pqw-camsim pqw-web)
  if(TARGET ${prog})
    install(TARGETS ${prog} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND PQW_INSTALLED_PROGRAMS ${prog})
  endif()
endforeach()

install(PROGRAMS ${pqw_pkg_src}/scripts/hdmi-change.sh ${pqw_pkg_src}/scripts/hdmi-mode.sh
        DESTINATION ${PQW_WORKDIR}/scripts)
install(FILES ${pqw_pkg_src}/scripts/boot-config.sh DESTINATION ${PQW_WORKDIR}/scripts)
# The daemon reads "pelquarinthos.conf" from its working directory; the unit
# refreshes the /run copy from the master before every start, and the
# daemon's own saves refresh it too.
install(CODE "
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}${PQW_WORKDIR}\")
  file(CREATE_LINK /run/pelquarinthos.conf
       \"\$ENV{DESTDIR}${PQW_WORKDIR}/pelquarinthos.conf\" SYMBOLIC)
  message(STATUS \"Installing: \$ENV{DESTDIR}${PQW_WORKDIR}/pelquarinthos.conf -> /run/pelquarinthos.conf\")
")

install(FILES ${pqw_pkg_src}/pelquarinthos-wired.conf DESTINATION ${PQW_DATADIR})

configure_file(${pqw_pkg_src}/systemd/pelquarinthos-wired.service.in
               ${pqw_pkg_out}/pelquarinthos-wired.service @ONLY)
configure_file(${pqw_pkg_src}/systemd/pelquarinthos-wired-sim.service.in
               ${pqw_pkg_out}/pelquarinthos-wired-sim.service @ONLY)
install(FILES ${pqw_pkg_out}/pelquarinthos-wired.service DESTINATION ${PQW_UNITDIR})
install(FILES ${pqw_pkg_out}/pelquarinthos-wired-sim.service DESTINATION ${PQW_DOCDIR}/examples)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${PQW_DOCDIR})
# The web console (pqw-web): its own service, after the daemon.
if(TARGET pqw-web)
  configure_file(${pqw_pkg_src}/systemd/pelquarinthos-wired-web.service.in
                 ${pqw_pkg_out}/pelquarinthos-wired-web.service @ONLY)
  install(FILES ${pqw_pkg_out}/pelquarinthos-wired-web.service DESTINATION ${PQW_UNITDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/docs/web-api.md DESTINATION ${PQW_DOCDIR})
endif()

# Maintainer scripts.
configure_file(${pqw_pkg_src}/debian/postinst.in ${pqw_pkg_out}/debian/postinst @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
file(COPY ${pqw_pkg_src}/debian/prerm ${pqw_pkg_src}/debian/postrm
     DESTINATION ${pqw_pkg_out}/debian)

# Debian architecture of the build: toolchain files name it, a native build
# asks dpkg.
if(NOT PQW_DEB_ARCH)
  if(CMAKE_LIBRARY_ARCHITECTURE STREQUAL "aarch64-linux-gnu")
    set(PQW_DEB_ARCH arm64)
  elseif(CMAKE_LIBRARY_ARCHITECTURE STREQUAL "arm-linux-gnueabihf")
    set(PQW_DEB_ARCH armhf)
  elseif(CMAKE_LIBRARY_ARCHITECTURE STREQUAL "x86_64-linux-gnu")
    set(PQW_DEB_ARCH amd64)
  else()
    execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE PQW_DEB_ARCH
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelquarinthos-wired)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "camera and gimbal link daemon for DJI cameras on a Raspberry Pi")
set(CPACK_PACKAGE_DESCRIPTION
    "Pelquarinthos Wired drives a DJI camera and gimbal over CAN, relays its video and telemetry to viewer apps on the local network, and feeds the on-screen display, RC and I2C panel processes. Includes the viewer, HUD and camera simulator tools.")
set(CPACK_PACKAGE_CONTACT "Pelquarinthos Wired developers <pelquarinthos-wired@invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Absolute destinations (/var/lib, /lib/systemd) go into the package, not
# onto the build machine.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${PQW_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps names the libraries the programs link (libcjson1,
# libinih1, libcurl4, libgpiod2, the C and C++ runtimes) with the versions
# they need; the package test checks that all four are there. The daemon
# brings can0 up with ip; killall restarts the display and RC processes
# after a settings change.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS iproute2)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS psmisc)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${pqw_pkg_out}/debian/postinst ${pqw_pkg_out}/debian/prerm ${pqw_pkg_out}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/deb)
include(CPack)
