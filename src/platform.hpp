// What differs between the POSIX systems and the Windows runtime: raw reads,
// the local calendar time, resident memory and the processor's vector
// features. CMake builds platform_posix.cpp or platform_windows.cpp, and
// platform_cpu.c for both.
#pragma once

#include <cstddef>
#include <ctime>

// Readies standard input for large reads; changes nothing a caller can see.
void platform_prepare_input(int descriptor);

// Reads at most `capacity` bytes: how many, 0 at end of input, or -1 with errno set.
long platform_read(int descriptor, char *into, size_t capacity);

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
