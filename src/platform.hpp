// What differs between the POSIX systems and the Windows runtime: raw reads
// and the text-file rules, the console's encoding, the local calendar time,
// resident memory and the processor's vector features. CMake builds
// platform_posix.cpp or platform_windows.cpp, and platform_cpu.c for both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

// Windows text files end their lines with CR LF and may end with a Ctrl-Z.
// Standard input is read in binary there and these rules are applied by the
// program, after any UTF-16 is decoded: the runtime's text mode would take a
// UTF-16 unit's 0x1A byte for the end of input.
#ifdef _WIN32
inline constexpr bool TEXT_FILE_RULES = true;
#else
inline constexpr bool TEXT_FILE_RULES = false;
#endif

// Readies standard input for large, binary reads; changes nothing else.
void platform_prepare_input(int descriptor);

// UTF-16 in the encoding this system's console shows: UTF-8 on POSIX, the
// OEM code page on Windows (with ? for what it cannot show). A text_encoder:
// it may repair `units` in place.
size_t platform_console_text(uint16_t *units, size_t count, char *out, size_t capacity);

// Reads at most `capacity` bytes: how many, 0 at end of input, or -1 with errno set.
long platform_read(int descriptor, char *into, size_t capacity);

#ifdef _WIN32
#include "scan.hpp"

// Converts the first four wide arguments into `arguments` (returning how
// many there are) and the pattern into each form a listing may hold it in:
// the OEM code page, the ANSI code page and UTF-8, each used only where
// every character converts exactly, and each once.
int platform_wide_arguments(int count, wchar_t **wide, const char *(&arguments)[4], pattern_forms &forms);
#endif

// The local calendar time of a clock reading; false when it cannot be formed.
bool platform_local_time(std::time_t clock_reading, std::tm &local);

// Makes `memory` resident now, so that the program's memory is the same
// whatever its input's size.
void platform_make_resident(char *memory, size_t size);

// Whether the processor runs each vector engine (AVX2 and AVX-512 with BMI1
// and POPCNT).
extern "C" bool platform_has_sse2(void);
extern "C" bool platform_has_avx2(void);
extern "C" bool platform_has_avx512(void);
