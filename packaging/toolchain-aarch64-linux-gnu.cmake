# Cross build for Debian/Raspberry Pi OS arm64 with Debian's cross compiler
# (g++-aarch64-linux-gnu) and the multiarch -dev packages (dpkg --add-architecture arm64;
# apt-get install libcjson-dev:arm64 libinih-dev:arm64 ...).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(PQW_DEB_ARCH arm64)

# Headers and libraries of the target live in the host's own /usr, under the
# multiarch directories; only pkg-config must be told to look there alone.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# Test binaries run under qemu-user, the dynamic loader taken from the cross
# libc (ctest prefixes every test program with this).
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64;-L;/usr/aarch64-linux-gnu)
endif()
