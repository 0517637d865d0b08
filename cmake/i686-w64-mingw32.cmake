# Cross-builds the 32-bit Windows console program with Debian's mingw-w64.
# Tests built with it run under wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# wine's 32-bit loader, called directly, in a 32-bit prefix of this build's
# own. It runs only where the kernel executes 32-bit x86 programs.
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEARCH=win32 WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all /usr/lib/wine/wine)
