# Cross-builds for Debian's arm64 (little-endian, 64-bit) with its cross
# compilers; the tests run under qemu-aarch64-static.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CROSS_TRIPLET aarch64-linux-gnu)
set(QEMU_NAME aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
