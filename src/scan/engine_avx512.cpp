// The AVX-512 engine: one 64-byte compare makes a 64-byte mask, straight into
// a mask register. Kept for what it measured on the dense listing: in 15
// runs paired with AVX2's, the whole run took 0.906 of AVX2's wall time
// (0.190 s against 0.211 s); the sparse one, whose skip loop waits on
// memory, 0.982 (0.129 s against 0.131 s) (AMD EPYC, 1 GiB listings).
// Built with -mavx512bw for 64-bit targets only (a 32-bit build cannot move a
// 64-bit mask to one register), and only called where the processor has it.
#include <immintrin.h>

#include "scan/loop.hpp"

namespace {

struct avx512_engine {
    static constexpr bool PREFERS_MEMCHR = false;

    static uint64_t equal_mask(const char *bytes, char wanted)
    {
        return _cvtmask64_u64(_mm512_cmpeq_epi8_mask(_mm512_loadu_si512(bytes), _mm512_set1_epi8(wanted)));
    }

    static bool has_byte(const char *bytes, char wanted) { return equal_mask(bytes, wanted) != 0; }
};

}  // namespace

void avx512_scan(scan_state &state, const char *buffer, size_t length, size_t new_from)
{
    scan_buffer<avx512_engine>(state, buffer, length, new_from);
}
