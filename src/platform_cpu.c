/* The processor's vector features, for choosing the scan's engine. A C file:
   glibc's <sys/platform/x86.h> is written for C. */
#include <stdbool.h>
#include <stdlib.h>

#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33) && (defined(__x86_64__) || defined(__i386__))
#include <sys/platform/x86.h>
/* glibc (2.33 on) has already asked the processor at start-up.
   __builtin_cpu_supports would link libgcc's own start-up probe, whose CPUID
   instructions each trap to the hypervisor on a virtual machine: 0.1 ms of
   the 0.4 ms a static program takes to start here. */
bool platform_has_sse2(void)
{
    return CPU_FEATURE_ACTIVE(SSE2);
}
bool platform_has_avx2(void)
{
    return CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(BMI1) && CPU_FEATURE_ACTIVE(POPCNT);
}
bool platform_has_avx512(void)
{
    return platform_has_avx2() && CPU_FEATURE_ACTIVE(AVX512BW);
}
#elif defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
bool platform_has_sse2(void)
{
    return __builtin_cpu_supports("sse2");
}
bool platform_has_avx2(void)
{
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt");
}
bool platform_has_avx512(void)
{
    return platform_has_avx2() && __builtin_cpu_supports("avx512bw");
}
#else
bool platform_has_sse2(void)
{
    return false;
}
bool platform_has_avx2(void)
{
    return false;
}
bool platform_has_avx512(void)
{
    return false;
}
#endif
