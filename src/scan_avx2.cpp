// The AVX2 engine: two 32-byte compares make a 64-byte mask. This file alone
// is built with -mavx2 (and BMI1 and POPCNT), and it is only called when the
// processor reports all three.
#include "scan_loop.hpp"

#ifdef __AVX2__
#include <immintrin.h>

namespace {

struct avx2_engine {
    static __m256i low(const char *bytes) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes)); }
    static __m256i high(const char *bytes) { return low(bytes + 32); }

    // The 64-bit mask of two halves' byte compares.
    static uint64_t mask_of(__m256i low_equal, __m256i high_equal)
    {
        uint32_t low_bits = static_cast<uint32_t>(_mm256_movemask_epi8(low_equal));
        uint32_t high_bits = static_cast<uint32_t>(_mm256_movemask_epi8(high_equal));
        return uint64_t{low_bits} | uint64_t{high_bits} << 32;
    }

    static uint64_t equal_mask(const char *bytes, char wanted)
    {
        const __m256i needle = _mm256_set1_epi8(wanted);
        return mask_of(_mm256_cmpeq_epi8(low(bytes), needle), _mm256_cmpeq_epi8(high(bytes), needle));
    }

    static bool has_byte(const char *bytes, char wanted)
    {
        const __m256i needle = _mm256_set1_epi8(wanted);
        __m256i equal = _mm256_or_si256(_mm256_cmpeq_epi8(low(bytes), needle), _mm256_cmpeq_epi8(high(bytes), needle));
        return !_mm256_testz_si256(equal, equal);
    }

    static uint64_t both_mask(const char *bytes_a, char wanted_a, const char *bytes_b, char wanted_b)
    {
        const __m256i needle_a = _mm256_set1_epi8(wanted_a), needle_b = _mm256_set1_epi8(wanted_b);
        return mask_of(_mm256_and_si256(_mm256_cmpeq_epi8(low(bytes_a), needle_a),
                                        _mm256_cmpeq_epi8(low(bytes_b), needle_b)),
                       _mm256_and_si256(_mm256_cmpeq_epi8(high(bytes_a), needle_a),
                                        _mm256_cmpeq_epi8(high(bytes_b), needle_b)));
    }

    // The bytewise minimum of the two halves is zero exactly where either has a NUL.
    static bool has_nul(const char *bytes)
    {
        __m256i zero = _mm256_cmpeq_epi8(_mm256_min_epu8(low(bytes), high(bytes)), _mm256_setzero_si256());
        return !_mm256_testz_si256(zero, zero);
    }
};

}  // namespace

const buffer_scanner avx2_scanner = scan_buffer<avx2_engine>;
#else
const buffer_scanner avx2_scanner = nullptr;
#endif
