# Cross-builds for Debian's armhf (32-bit ARM, hard float) with its cross
# compilers; the tests run under qemu-arm-static.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CROSS_TRIPLET arm-linux-gnueabihf)
set(QEMU_NAME arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
