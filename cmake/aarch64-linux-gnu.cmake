# Cross-builds tavoctl for 64-bit ARM Linux (arm64: Raspberry Pi 3 and later
# with a 64-bit OS, most other ARM boards) with Debian's cross compiler
# (g++-aarch64-linux-gnu).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(cross_triple aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

# dpkg would name the build machine's architecture.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
