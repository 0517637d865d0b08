# Cross-builds for Debian's s390x (big-endian, 64-bit) with its cross
# compilers; the tests run under qemu-s390x-static.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CROSS_TRIPLET s390x-linux-gnu)
set(QEMU_NAME s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
