# Cross build for Debian/Raspberry Pi OS armhf with Debian's cross compiler
# (g++-arm-linux-gnueabihf) and the multiarch -dev packages (dpkg --add-architecture armhf;
# apt-get install libcjson-dev:armhf libinih-dev:armhf ...).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(PQW_DEB_ARCH armhf)

# Headers and libraries of the target live in the host's own /usr, under the
# multiarch directories; only pkg-config must be told to look there alone.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# Test binaries run under qemu-user, the dynamic loader taken from the cross
# libc (ctest prefixes every test program with this).
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm;-L;/usr/arm-linux-gnueabihf)
endif()
