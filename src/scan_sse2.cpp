// The SSE2 engine: four 16-byte compares make a 64-byte mask. Built with
// -msse2, which every x86-64 processor and every processor that runs a current
// 32-bit Windows has; elsewhere it is left out.
#include "scan_loop.hpp"

#ifdef __SSE2__
#include <emmintrin.h>

namespace {

uint64_t sse2_equal_mask(const char *bytes, char wanted)
{
    const __m128i needle = _mm_set1_epi8(wanted);
    uint64_t mask = 0;
    for (unsigned i = 0; i < 4; i++) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + 16 * i));
        uint32_t bits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, needle)));
        mask |= uint64_t{bits} << (16 * i);
    }
    return mask;
}

// The bytewise minimum of the four blocks is zero exactly where some block has a NUL.
bool sse2_has_nul(const char *bytes)
{
    __m128i low = _mm_min_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + 16)));
    __m128i high = _mm_min_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + 32)),
                                _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + 48)));
    __m128i zero = _mm_cmpeq_epi8(_mm_min_epu8(low, high), _mm_setzero_si128());
    return _mm_movemask_epi8(zero) != 0;
}

}  // namespace

const buffer_scanner sse2_scanner = scan_buffer<sse2_equal_mask, sse2_has_nul>;
#else
const buffer_scanner sse2_scanner = nullptr;
#endif
