// The AVX2 engine: two 32-byte compares make a 64-byte mask. This file alone
// is built with -mavx2 (and BMI1 and POPCNT, which every processor with AVX2
// has), and it is only called when the processor reports all three.
#include <immintrin.h>

#include "scan/loop.hpp"

namespace {

struct avx2_engine {
    static constexpr bool PREFERS_MEMCHR = false;

    static __m256i equal(const char *bytes, char wanted)
    {
        const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes));
        return _mm256_cmpeq_epi8(block, _mm256_set1_epi8(wanted));
    }

    static uint64_t equal_mask(const char *bytes, char wanted)
    {
        const uint32_t low = static_cast<uint32_t>(_mm256_movemask_epi8(equal(bytes, wanted)));
        const uint32_t high = static_cast<uint32_t>(_mm256_movemask_epi8(equal(bytes + 32, wanted)));
        return uint64_t{low} | uint64_t{high} << 32;
    }

    static bool has_byte(const char *bytes, char wanted)
    {
        const __m256i either = _mm256_or_si256(equal(bytes, wanted), equal(bytes + 32, wanted));
        return !_mm256_testz_si256(either, either);
    }
};

}  // namespace

void avx2_scan(scan_state &state, const char *buffer, size_t length, size_t new_from)
{
    scan_buffer<avx2_engine>(state, buffer, length, new_from);
}
