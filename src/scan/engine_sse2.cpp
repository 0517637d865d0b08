// The SSE2 engine: four 16-byte compares make a 64-byte mask. Built with
// -msse2, which every x86-64 processor and every processor that runs a current
// 32-bit Windows has; elsewhere it is left out.
#include <emmintrin.h>

#include "scan/loop.hpp"

namespace {

struct sse2_engine {
    static constexpr bool PREFERS_MEMCHR = false;

    static __m128i equal(const char *bytes, unsigned i, char wanted)
    {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + size_t{16} * i));
        return _mm_cmpeq_epi8(block, _mm_set1_epi8(wanted));
    }

    static uint64_t equal_mask(const char *bytes, char wanted)
    {
        uint64_t mask = 0;
        for (unsigned i = 0; i < 4; i++)
            mask |= uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(equal(bytes, i, wanted)))} << (16 * i);
        return mask;
    }

    static bool has_byte(const char *bytes, char wanted) { return equal_mask(bytes, wanted) != 0; }
};

}  // namespace

void sse2_scan(scan_state &state, const char *buffer, size_t length, size_t new_from)
{
    scan_buffer<sse2_engine>(state, buffer, length, new_from);
}
