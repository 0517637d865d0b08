// Bit tricks on the scan's 64-bit masks, one byte to a bit. In an unnamed
// namespace, as each engine's file is built for its own instruction set and
// gets its own copy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace {

// The lowest `count` bits, all of them from 64 on.
inline uint64_t first_bits(size_t count)
{
    return count >= 64 ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
}

inline size_t lowest_bit(uint64_t bits)
{
    return static_cast<size_t>(__builtin_ctzll(bits));
}

// x86 files built without -mpopcnt (the plain and SSE2 engines) would call
// libgcc for __builtin_popcountll: 9% of the plain engine's time on the
// dense listing. Elsewhere the builtin is an instruction or two.
inline int count_bits(uint64_t bits)
{
#if (defined(__x86_64__) || defined(__i386__)) && !defined(__POPCNT__)
    bits -= (bits >> 1) & 0x5555555555555555;
    bits = (bits & 0x3333333333333333) + ((bits >> 2) & 0x3333333333333333);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0F;
    return static_cast<int>((bits * 0x0101010101010101) >> 56);
#else
    return __builtin_popcountll(bits);
#endif
}

}  // namespace
