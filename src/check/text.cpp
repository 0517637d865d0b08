// Writing into fixed buffers, and the one rule for echoed text.
#include "check/text.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The bytes of the UTF-8 character at `text`, with its value; 0 when the
// bytes there are not one: a stray continuation, a cut sequence (a NUL is
// never a continuation byte), an overlong form, a surrogate, or past U+10FFFF.
size_t character_at(const unsigned char *text, uint32_t &value)
{
    value = text[0];
    if (value < 0x80)
        return 1;
    const size_t length = value >= 0xF8 ? 0 : value >= 0xF0 ? 4 : value >= 0xE0 ? 3 : value >= 0xC0 ? 2 : 0;
    if (length == 0)
        return 0;
    value &= 0x3FU >> (length - 1);
    for (size_t i = 1; i < length; i++) {
        if ((text[i] & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (text[i] & 0x3FU);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

// Whether a character would start a new line, or steer a terminal: the C0
// and C1 controls, DEL, and Unicode's line and paragraph separators.
bool breaks_lines(uint32_t value)
{
    return value < 0x20 || (value >= 0x7F && value <= 0x9F) || value == 0x2028 || value == 0x2029;
}

// Drops the last character when the buffer's end cut it short.
void drop_cut_character(text_buffer &out)
{
    size_t start = out.used;
    while (start > 0 && (static_cast<unsigned char>(out.data[start - 1]) & 0xC0) == 0x80)
        start--;
    if (start == 0)
        return;
    uint32_t value = 0;
    if (character_at(reinterpret_cast<const unsigned char *>(out.data + start - 1), value) == 0)
        out.used = start - 1;
    out.data[out.used] = '\0';
}

}  // namespace

void append(text_buffer &out, const char *text)
{
    while (*text && out.used + 1 < out.size)
        out.data[out.used++] = *text++;
    out.data[out.used] = '\0';
    if (*text)
        drop_cut_character(out);
}

void append_echo(text_buffer &out, const char *text, size_t limit)
{
    const auto *at = reinterpret_cast<const unsigned char *>(text);
    size_t taken = 0;
    bool cut = false;
    while (*at) {
        uint32_t value = 0;
        size_t length = character_at(at, value);
        const char *put = reinterpret_cast<const char *>(at);
        size_t put_length = length;
        if (length == 0 || breaks_lines(value) || value == '|') {
            put = length == 0 ? "?" : value == '|' ? "/" : " ";  // '|' would start the performance data
            put_length = 1;
            length = length ? length : 1;
        }
        cut = taken + put_length > limit || out.used + put_length >= out.size;
        if (cut)
            break;
        std::memcpy(out.data + out.used, put, put_length);
        out.used += put_length;
        taken += put_length;
        at += length;
    }
    out.data[out.used] = '\0';
    if (cut)
        append(out, "...");
}

void append_number(text_buffer &out, long long number)
{
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lld", number);
    append(out, digits);
}
