// The AVX2 engine: two 32-byte compares make a 64-byte mask. This file alone
// is built with -mavx2 and is only called when the processor reports AVX2.
#include "scan_loop.hpp"

#ifdef __AVX2__
#include <immintrin.h>

namespace {

uint64_t avx2_equal_mask(const char *bytes, char wanted)
{
    const __m256i needle = _mm256_set1_epi8(wanted);
    __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes));
    __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes + 32));
    uint32_t low_bits = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, needle)));
    uint32_t high_bits = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, needle)));
    return uint64_t{low_bits} | uint64_t{high_bits} << 32;
}

// The bytewise minimum of the two halves is zero exactly where either has a NUL.
bool avx2_has_nul(const char *bytes)
{
    __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes));
    __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes + 32));
    __m256i zero = _mm256_cmpeq_epi8(_mm256_min_epu8(low, high), _mm256_setzero_si256());
    return !_mm256_testz_si256(zero, zero);
}

}  // namespace

const buffer_scanner avx2_scanner = scan_buffer<avx2_equal_mask, avx2_has_nul>;
#else
const buffer_scanner avx2_scanner = nullptr;
#endif
