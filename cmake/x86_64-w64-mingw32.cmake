# Cross-builds the 64-bit Windows console program with Debian's mingw-w64.
# The C++ runtime, libgcc and winpthreads are linked in, so the executable
# imports only KERNEL32.dll and msvcrt.dll. Tests built with it run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# The -posix compilers: GoogleTest needs std::mutex, which the default win32
# thread model lacks. Linked statically, they add no DLL.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# wine64's own loader, called directly: the `wine` wrapper takes the 32-bit
# loader whenever wine32 is installed. The prefix is this build's own, apart
# from any 32-bit one.
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINELOADER=/usr/lib/wine/wine64 WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
    /usr/lib/wine/wine64)
