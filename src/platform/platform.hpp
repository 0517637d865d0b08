// What differs between the POSIX systems and the Windows runtime: the
// command line, raw reads and the text-file rules, the console's encoding,
// the local calendar time and resident memory. CMake builds posix.cpp or
// windows.cpp; cpu.h tells the processor's features.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "input/reader.hpp"
#include "settings.hpp"

// Windows text files end their lines with CR LF and may end with a Ctrl-Z.
// Standard input is read in binary there and these rules are applied by the
// program, after any UTF-16 is decoded: the runtime's text mode would take a
// UTF-16 unit's 0x1A byte for the end of input.
#ifdef _WIN32
inline constexpr bool TEXT_FILE_RULES = true;
#else
inline constexpr bool TEXT_FILE_RULES = false;
#endif

// The smallest page of every target: touching one byte in each such stretch
// touches every page.
inline constexpr size_t PAGE_SIZE = 4096;

// The arguments the settings read, and the forms the pattern takes.
struct command_line {
    int count;
    const char *arguments[ARGUMENT_LIMIT];
    pattern_forms forms;
};

// On POSIX the arguments as given, the pattern in one form. On Windows the
// arguments as typed, read from the wide command line (the ANSI `argv` has
// lost what the code page cannot show); the limits in UTF-8, the pattern in
// each form a listing may hold it in: the OEM code page, the ANSI code page
// and UTF-8, each used only where every character converts exactly, and once.
void platform_command_line(int argc, char **argv, command_line &line);

// Readies standard input for large, binary reads; changes nothing else.
void platform_prepare_input(int descriptor);

// A block_reader over the file descriptor that `source` points to (an int).
// On POSIX it retries reads that a signal interrupted; Windows has no such
// interruption, and its version reads once.
long read_descriptor(void *source, char *into, size_t capacity);

// UTF-16 in the encoding this system's console shows: UTF-8 on POSIX, the
// OEM code page on Windows (with ? for what it cannot show), at most 3 bytes
// a unit. A text_encoder: it may repair `units` in place.
size_t platform_console_text(uint16_t *units, size_t count, char *out);

// The local calendar time of a clock reading; false when it cannot be formed.
bool platform_local_time(std::time_t clock_reading, std::tm &local);

// Makes `memory` resident now, so that the program's memory is the same
// whatever its input's size.
void platform_make_resident(char *memory, size_t size);

// Writes a byte of each page: the way every system can make memory resident.
inline void touch_pages(char *memory, size_t size)
{
    for (size_t at = 0; at < size; at += PAGE_SIZE)
        *static_cast<volatile char *>(memory + at) = 0;
}
