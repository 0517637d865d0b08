// The AVX-512 engine: one 64-byte compare makes a 64-byte mask, straight into
// a mask register, and the second rare byte is compared only where the first
// matched. On the benchmark listings in memory it scans a GiB in 0.038 s
// (sparse) and 0.080 s (dense), against AVX2's 0.041 s and 0.082 s. Built with
// -mavx512bw for 64-bit targets only (a 32-bit build cannot move a 64-bit mask
// to one register), and only called when the processor reports AVX-512BW.
#include "scan_loop.hpp"

#if defined(__AVX512BW__) && defined(__x86_64__)
#include <immintrin.h>

namespace {

struct avx512_engine {
    static __m512i load(const char *bytes) { return _mm512_loadu_si512(bytes); }

    static uint64_t equal_mask(const char *bytes, char wanted)
    {
        return _cvtmask64_u64(_mm512_cmpeq_epi8_mask(load(bytes), _mm512_set1_epi8(wanted)));
    }

    static bool has_byte(const char *bytes, char wanted) { return equal_mask(bytes, wanted) != 0; }

    static uint64_t both_mask(const char *bytes_a, char wanted_a, const char *bytes_b, char wanted_b)
    {
        __mmask64 first = _mm512_cmpeq_epi8_mask(load(bytes_a), _mm512_set1_epi8(wanted_a));
        return _cvtmask64_u64(_mm512_mask_cmpeq_epi8_mask(first, load(bytes_b), _mm512_set1_epi8(wanted_b)));
    }

    static bool has_nul(const char *bytes)
    {
        const __m512i chunk = load(bytes);
        return _cvtmask64_u64(_mm512_testn_epi8_mask(chunk, chunk)) != 0;
    }
};

}  // namespace

const buffer_scanner avx512_scanner = scan_buffer<avx512_engine>;
#else
const buffer_scanner avx512_scanner = nullptr;
#endif
