# Install layout and the Debian package.
#
#   /usr/bin/pelquarinthos-wired, pqw-hud, pqw-viewer, pqw-camsim, pqw-decode
#       side by side: --sim finds pqw-camsim next to the daemon
#   /usr/lib/<triplet>/wireshark/plugins/pqw_camera_link.lua
#       the camera-link dissector, where Debian's Wireshark loads global Lua
#       plugins (tshark -G folders)
#   /var/lib/pelquarinthos-wired/            the daemon's working directory
#       scripts/hdmi-change.sh, hdmi-mode.sh (+ boot-config.sh they share)
#       pelquarinthos.conf -> /run/pelquarinthos.conf
#   /lib/systemd/system/pelquarinthos-wired.service
#   /usr/share/pelquarinthos-wired/pelquarinthos-wired.conf
#       the default settings; postinst copies it to /boot only when the
#       user has none there
#   /usr/share/doc/pelquarinthos-wired/   README, viewer protocol, copyright,
#       changelog.gz, simulation unit example
#   /usr/share/man/man8/pelquarinthos-wired.8.gz, man1/pqw-*.1.gz
#   /etc/default/pelquarinthos-wired      the service's environment (conffile)
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
foreach(prog pelquarinthos-wired pqw-hud pqw-viewer pqw-camsim pqw-decode pqw-web)
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
if(CMAKE_LIBRARY_ARCHITECTURE)
  install(FILES ${pqw_pkg_src}/wireshark/pqw_camera_link.lua
          DESTINATION /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/wireshark/plugins)
else()
  message(WARNING "no multiarch triplet: the Wireshark dissector is not installed")
endif()

configure_file(${pqw_pkg_src}/systemd/pelquarinthos-wired.service.in
               ${pqw_pkg_out}/pelquarinthos-wired.service @ONLY)
configure_file(${pqw_pkg_src}/systemd/pelquarinthos-wired-sim.service.in
               ${pqw_pkg_out}/pelquarinthos-wired-sim.service @ONLY)
install(FILES ${pqw_pkg_out}/pelquarinthos-wired.service DESTINATION ${PQW_UNITDIR})
install(FILES ${pqw_pkg_out}/pelquarinthos-wired-sim.service DESTINATION ${PQW_DOCDIR}/examples)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/viewer-protocol.md
              ${CMAKE_SOURCE_DIR}/docs/diagnostics.md
              ${pqw_pkg_src}/debian/copyright DESTINATION ${PQW_DOCDIR})
# The service's environment file (PQW_VIEWER_ALLOW): a conffile, the
# administrator's edits survive upgrades.
set(PQW_ENVFILE /etc/default/pelquarinthos-wired)
install(FILES ${pqw_pkg_src}/pelquarinthos-wired.default DESTINATION /etc/default
        RENAME pelquarinthos-wired)

# Man pages and the changelog, compressed as Debian wants them (gzip -9n: no
# name or time stamp inside, so the package is reproducible).
find_program(PQW_GZIP gzip REQUIRED)
set(pqw_gz_outputs "")
function(pqw_gzip_install src out dest)
  add_custom_command(OUTPUT ${out} COMMAND ${PQW_GZIP} -9nc ${src} > ${out} DEPENDS ${src}
                     VERBATIM)
  install(FILES ${out} DESTINATION ${dest})
  set(pqw_gz_outputs ${pqw_gz_outputs} ${out} PARENT_SCOPE)
endfunction()
foreach(page pelquarinthos-wired.8 pqw-hud.1 pqw-viewer.1 pqw-camsim.1 pqw-decode.1 pqw-web.1)
  string(REGEX REPLACE ".*\\.([18])$" "\\1" section ${page})
  configure_file(${pqw_pkg_src}/man/${page} ${pqw_pkg_out}/man/${page} @ONLY)
  pqw_gzip_install(${pqw_pkg_out}/man/${page} ${pqw_pkg_out}/man/${page}.gz
                   ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
# A native package (no Debian revision): changelog.gz.
pqw_gzip_install(${pqw_pkg_src}/debian/changelog ${pqw_pkg_out}/changelog.gz ${PQW_DOCDIR})
add_custom_target(pqw_package_docs ALL DEPENDS ${pqw_gz_outputs})
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
file(WRITE ${pqw_pkg_out}/debian/conffiles "${PQW_ENVFILE}\n")

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
# Lines of at most 80 characters, as Debian wants them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Pelquarinthos Wired drives a DJI camera and gimbal over CAN, relays its\n"
       "video and telemetry to viewer apps on the local network, and feeds the\n"
       "on-screen display, RC and I2C panel processes. Includes the viewer, HUD\n"
       "and camera simulator tools.")
# The same identity as the changelog's and the copyright file's.
set(PQW_MAINTAINER
    "Pelquarinthos Wired maintainers <maintainers@users.noreply.c-seed-b39774a1.example>"
    CACHE STRING "the package's Maintainer field")
set(CPACK_PACKAGE_CONTACT "${PQW_MAINTAINER}")
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
# libinih1, libcurl4, libgpiod2, libpcap0.8 for pqw-decode and pqw-camsim,
# the C and C++ runtimes) with the versions they need; the package test checks
# that they are there. The tools the
# daemon runs: ip brings can0 up, ifconfig tells whether can0 exists (without
# it the daemon reports "CAN interface not found" even when it is up),
# killall restarts the display and RC processes after a settings change,
# iwlist scans Wi-Fi for the viewers; postinst makes the readers' group with
# addgroup. sudo only prefixes the CPU governor write (the daemon is root).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "iproute2, net-tools, psmisc, wireless-tools, adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS sudo)
# pqw_camera_link.lua is read by either.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "tshark | wireshark")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${pqw_pkg_out}/debian/postinst ${pqw_pkg_out}/debian/prerm ${pqw_pkg_out}/debian/postrm
    ${pqw_pkg_out}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/deb)
include(CPack)
