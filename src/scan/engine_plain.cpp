// The portable engine: byte masks built eight bytes at a time in plain C++,
// with no vector instructions, so it runs on any processor and either byte
// order. It is what arm64, ppc64el, s390x and riscv64 hosts run.
#include <bit>

#include "scan/loop.hpp"

namespace {

constexpr uint64_t LOW_BITS = 0x0101010101010101;
constexpr uint64_t HIGH_BITS = 0x8080808080808080;

// The eight bytes at `bytes` with the first in the lowest byte, whatever the
// machine's byte order.
inline uint64_t load_word(const char *bytes)
{
    uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    return word;
}

struct plain_engine {
    // memchr finds one byte faster than eight-byte words can.
    static constexpr bool PREFERS_MEMCHR = true;

    // The high bit of each byte of `word` that equals `wanted`, exactly:
    // with each byte's high bit set first, subtracting 1 never borrows from
    // the next byte, and leaves the high bit set unless the low seven bits
    // were all zero.
    static uint64_t equal_bits(uint64_t word, char wanted)
    {
        const uint64_t x = word ^ (LOW_BITS * static_cast<unsigned char>(wanted));
        return ~(((x | HIGH_BITS) - LOW_BITS) | x) & HIGH_BITS;
    }

    // One bit per byte, gathered into the top byte by one multiply: byte
    // j's bit moves to bit 56 + j, and no two partial products meet there.
    static uint64_t gather(uint64_t high_bits) { return ((high_bits >> 7) * 0x0102040810204080) >> 56; }

    static uint64_t equal_mask(const char *bytes, char wanted)
    {
        uint64_t mask = 0;
        for (unsigned i = 0; i < CHUNK / 8; i++)
            mask |= gather(equal_bits(load_word(bytes + size_t{8} * i), wanted)) << (8 * i);
        return mask;
    }

    // Only the capture's first pieces ask: the bulk loops take memchr.
    static bool has_byte(const char *bytes, char wanted) { return equal_mask(bytes, wanted) != 0; }
};

}  // namespace

void plain_scan(scan_state &state, const char *buffer, size_t length, size_t new_from)
{
    scan_buffer<plain_engine>(state, buffer, length, new_from);
}
