// The SSE2 engine: four 16-byte compares make a 64-byte mask. Built with
// -msse2, which every x86-64 processor and every processor that runs a current
// 32-bit Windows has; elsewhere it is left out.
#include "scan_loop.hpp"

#ifdef __SSE2__
#include <emmintrin.h>

namespace {

struct sse2_engine {
    static __m128i block(const char *bytes, unsigned i)
    {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + 16 * i));
    }

    static uint64_t equal_mask(const char *bytes, char wanted)
    {
        const __m128i needle = _mm_set1_epi8(wanted);
        uint64_t mask = 0;
        for (unsigned i = 0; i < 4; i++) {
            uint32_t bits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block(bytes, i), needle)));
            mask |= uint64_t{bits} << (16 * i);
        }
        return mask;
    }

    static bool has_byte(const char *bytes, char wanted)
    {
        const __m128i needle = _mm_set1_epi8(wanted);
        __m128i equal = _mm_cmpeq_epi8(block(bytes, 0), needle);
        for (unsigned i = 1; i < 4; i++)
            equal = _mm_or_si128(equal, _mm_cmpeq_epi8(block(bytes, i), needle));
        return _mm_movemask_epi8(equal) != 0;
    }

    static uint64_t both_mask(const char *bytes_a, char wanted_a, const char *bytes_b, char wanted_b)
    {
        const __m128i needle_a = _mm_set1_epi8(wanted_a), needle_b = _mm_set1_epi8(wanted_b);
        uint64_t mask = 0;
        for (unsigned i = 0; i < 4; i++) {
            __m128i both = _mm_and_si128(_mm_cmpeq_epi8(block(bytes_a, i), needle_a),
                                         _mm_cmpeq_epi8(block(bytes_b, i), needle_b));
            mask |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(both))} << (16 * i);
        }
        return mask;
    }

    // The bytewise minimum of the four blocks is zero exactly where some block has a NUL.
    static bool has_nul(const char *bytes)
    {
        __m128i low = _mm_min_epu8(block(bytes, 0), block(bytes, 1));
        __m128i high = _mm_min_epu8(block(bytes, 2), block(bytes, 3));
        __m128i zero = _mm_cmpeq_epi8(_mm_min_epu8(low, high), _mm_setzero_si128());
        return _mm_movemask_epi8(zero) != 0;
    }
};

}  // namespace

const buffer_scanner sse2_scanner = scan_buffer<sse2_engine>;
#else
const buffer_scanner sse2_scanner = nullptr;
#endif
