# Cross-builds tavoctl for 32-bit ARM Linux with hardware floating point
# (armhf: Raspberry Pi OS 32-bit, ARMv7 boards) with Debian's cross compiler
# (g++-arm-linux-gnueabihf).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)

set(cross_triple arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

# dpkg would name the build machine's architecture.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
