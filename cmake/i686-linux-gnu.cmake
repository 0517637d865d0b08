# Cross-builds for Debian's i386 (32-bit x86) with its cross compilers; the
# tests run under qemu-i386-static, as some kernels refuse 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CROSS_TRIPLET i686-linux-gnu)
set(QEMU_NAME i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
