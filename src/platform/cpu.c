/* The processor's vector features, for choosing the scan's engine. A C file:
   glibc's <sys/platform/x86.h> is written for C. */
#include "platform/cpu.h"

#include <stdlib.h> /* defines __GLIBC__, which the test below reads */

#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 33) && (defined(__x86_64__) || defined(__i386__))
#include <sys/platform/x86.h>
/* glibc (2.33 on) has already asked the processor at start-up.
   __builtin_cpu_supports would link libgcc's own start-up probe, whose CPUID
   instructions each trap to the hypervisor on a virtual machine: 0.1 ms of
   the 0.4 ms a static program takes to start here. */
#define HAS(glibc_name, gcc_name) CPU_FEATURE_ACTIVE(glibc_name)
#elif defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define HAS(glibc_name, gcc_name) __builtin_cpu_supports(gcc_name)
#else
#define HAS(glibc_name, gcc_name) 0
#endif

unsigned platform_vector_features(void)
{
    unsigned features = 0;
    if (HAS(SSE2, "sse2"))
        features |= FEATURE_SSE2;
    if (HAS(AVX2, "avx2") && HAS(BMI1, "bmi") && HAS(POPCNT, "popcnt")) {
        features |= FEATURE_AVX2;
        if (HAS(AVX512BW, "avx512bw"))
            features |= FEATURE_AVX512;
    }
    return features;
}
