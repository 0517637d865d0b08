# What the Linux cross toolchain files share: Debian's cross compilers for
# CROSS_TRIPLET, the target's libraries from /usr/CROSS_TRIPLET, and the
# tests run under qemu-user (QEMU_NAME) with that folder as the root of the
# target's dynamic loader and libraries. LD_LIBRARY_PATH keeps the loader to
# that folder's libraries: once the target's own libc6 is installed beside the
# native one (scripts/build-deb does so), the host's ld.so.cache lists it, and
# a loader of one glibc release with a libc of another aborts at start-up.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-${QEMU_NAME}-static -L /usr/${CROSS_TRIPLET}
    -E LD_LIBRARY_PATH=/usr/${CROSS_TRIPLET}/lib)
