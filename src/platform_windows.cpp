// The Windows side of the platform, on msvcrt: _read in text mode, the 64-bit
// local time, and arguments taken as typed.
#include "platform.hpp"

#include <io.h>

// The pattern must arrive as typed: without this the runtime would replace an
// argument such as "*" with the names of the files in the current folder.
extern "C" {
int _dowildcard = 0;
}

// Nothing to do: a pipe's buffer is set by whoever made it.
void platform_prepare_input(int) {}

// _read keeps the runtime's text mode: CR LF arrives as LF and a Ctrl-Z ends
// the input, as the listing's producers there expect.
long platform_read(int descriptor, char *into, size_t capacity)
{
    // _read takes an unsigned int count; the scan's block size fits.
    return _read(descriptor, into, static_cast<unsigned>(capacity));
}

// msvcrt has no localtime_r; its localtime keeps a per-thread result, which
// is as safe for this single-threaded program. The build maps time_t onto
// msvcrt's _time64 and _localtime64.
bool platform_local_time(std::time_t clock_reading, std::tm &local)
{
    static_assert(sizeof(std::time_t) == 8, "a 32-bit clock reading fails from January 2038 on");
    const std::tm *converted = std::localtime(&clock_reading);
    if (!converted)
        return false;
    local = *converted;
    return true;
}

void platform_make_resident(char *memory, size_t size)
{
    for (size_t at = 0; at < size; at += 4096)
        *static_cast<volatile char *>(memory + at) = 0;
}
