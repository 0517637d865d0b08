// What differs between the POSIX systems and the Windows runtime (msvcrt):
// raw reads, the local calendar time, and the processor's vector features.
#pragma once

#include <cstddef>
#include <ctime>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

// A pipe's default 64 KiB buffer makes the writer and the reader take turns
// for every block; 1 MiB lets both run ahead. Refused for other kinds of
// input or when the system's limit is lower, which changes nothing else.
inline void platform_prepare_input(int descriptor)
{
#if defined(__linux__) && defined(F_SETPIPE_SZ)
    (void)fcntl(descriptor, F_SETPIPE_SZ, 1 << 20);
#else
    (void)descriptor;
#endif
}

// On Windows _read keeps the runtime's text mode: CR LF arrives as LF and a
// Ctrl-Z ends the input, as the listing's producers there expect.
inline long platform_read(int descriptor, char *into, size_t capacity)
{
#ifdef _WIN32
    // _read takes an unsigned int count; BLOCK_SIZE-sized requests fit.
    return _read(descriptor, into, static_cast<unsigned>(capacity));
#else
    return static_cast<long>(read(descriptor, into, capacity));
#endif
}

// msvcrt has no localtime_r; its localtime keeps a per-thread result, which
// is as safe for this single-threaded program.
inline bool platform_local_time(std::time_t clock_reading, std::tm &local)
{
#ifdef _WIN32
    // The build maps time_t onto msvcrt's _time64 and _localtime64.
    static_assert(sizeof(std::time_t) == 8, "a 32-bit clock reading fails from January 2038 on");
    const std::tm *converted = std::localtime(&clock_reading);
    if (!converted)
        return false;
    local = *converted;
    return true;
#else
    return localtime_r(&clock_reading, &local) != nullptr;
#endif
}

// The AVX2 and AVX-512 engines also use BMI1 and POPCNT, which every
// processor with AVX2 has.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33) && (defined(__x86_64__) || defined(__i386__))
// glibc has already asked the processor at start-up. __builtin_cpu_supports
// would link libgcc's own start-up probe, whose CPUID instructions each trap
// to the hypervisor on a virtual machine: 0.1 ms of the 0.4 ms a static
// program takes to start here.
// Its inline functions return C's _Bool, which clang's C++ does not know.
#define _Bool bool
#include <sys/platform/x86.h>
#undef _Bool
inline bool platform_has_sse2() { return CPU_FEATURE_ACTIVE(SSE2); }
inline bool platform_has_avx2()
{
    return CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(BMI1) && CPU_FEATURE_ACTIVE(POPCNT);
}
inline bool platform_has_avx512() { return platform_has_avx2() && CPU_FEATURE_ACTIVE(AVX512BW); }
#elif defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
inline bool platform_has_sse2() { return __builtin_cpu_supports("sse2"); }
inline bool platform_has_avx2()
{
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt");
}
inline bool platform_has_avx512() { return platform_has_avx2() && __builtin_cpu_supports("avx512bw"); }
#else
inline bool platform_has_sse2() { return false; }
inline bool platform_has_avx2() { return false; }
inline bool platform_has_avx512() { return false; }
#endif
