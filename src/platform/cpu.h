/* The processor's vector features as one mask, for choosing the scan's
   engine. Read by C (cpu.c) and C++ (the engine table). */
#pragma once

enum {
    FEATURE_SSE2 = 1,
    FEATURE_AVX2 = 2,   /* with BMI1 and POPCNT, which every processor with AVX2 has */
    FEATURE_AVX512 = 4, /* AVX-512BW, set only beside FEATURE_AVX2 */
};

#ifdef __cplusplus
extern "C" {
#endif
unsigned platform_vector_features(void);
#ifdef __cplusplus
}
#endif
