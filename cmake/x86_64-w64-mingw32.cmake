# Cross-builds the 64-bit Windows console program with Debian's mingw-w64.
# Tests built with it run under wine64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# wine64's own loader, called directly: the `wine` wrapper takes the 32-bit
# loader whenever wine32 is installed. The prefix is this build's own, apart
# from any 32-bit one.
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINELOADER=/usr/lib/wine/wine64 WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
    /usr/lib/wine/wine64)
