// The POSIX side of the platform: the arguments as given, read(2),
// localtime_r, and Linux's larger pipe buffer and pre-faulted memory where
// the system has them.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "input/utf16.hpp"
#include "platform/platform.hpp"

void platform_command_line(int argc, char **argv, command_line &line)
{
    line.count = std::min(argc, ARGUMENT_LIMIT);
    std::copy(argv, argv + line.count, line.arguments);
    line.forms = {{parse_settings(line.count, line.arguments).pattern}, 1};
}

// A pipe's default 64 KiB buffer makes the writer and the reader take turns
// for every block; 1 MiB lets both run ahead, and roughly halves the time
// through a pipe. Refused for other kinds of input or when the system's limit
// is lower, which changes nothing else.
void platform_prepare_input(int descriptor)
{
#ifdef F_SETPIPE_SZ
    (void)fcntl(descriptor, F_SETPIPE_SZ, 1 << 20);
#else
    (void)descriptor;
#endif
}

long read_descriptor(void *source, char *into, size_t capacity)
{
    const int descriptor = *static_cast<int *>(source);
    for (;;) {
        const ssize_t got = read(descriptor, into, capacity);
        if (got >= 0 || errno != EINTR)
            return static_cast<long>(got);
    }
}

size_t platform_console_text(uint16_t *units, size_t count, char *out)
{
    return utf16_to_utf8(units, count, out);
}

bool platform_local_time(std::time_t clock_reading, std::tm &local)
{
    return localtime_r(&clock_reading, &local) != nullptr;
}

// One madvise where Linux has MADV_POPULATE_WRITE (5.14 on): 0.06 ms here for
// the 256 KiB read buffer, where touching each page, the fallback, took
// 0.74 ms (medians of 15).
void platform_make_resident(char *memory, size_t size)
{
#ifdef MADV_POPULATE_WRITE
    if (madvise(memory, size, MADV_POPULATE_WRITE) == 0)
        return;
#endif
    touch_pages(memory, size);
}
