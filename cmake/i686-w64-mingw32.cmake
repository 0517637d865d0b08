# Cross-builds the 32-bit Windows console program with Debian's mingw-w64.
# The C++ runtime, libgcc and winpthreads are linked in, so the executable
# imports only KERNEL32.dll and msvcrt.dll. Tests built with it run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
# The -posix compilers: GoogleTest needs std::mutex, which the default win32
# thread model lacks. Linked statically, they add no DLL.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# wine's 32-bit loader, called directly, in a 32-bit prefix of this build's
# own. It runs only where the kernel executes 32-bit x86 programs.
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEARCH=win32 WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all /usr/lib/wine/wine)
