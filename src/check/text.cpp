// Writing into fixed buffers, and the one rule for echoed text.
#include "check/text.hpp"

#include <cstdio>
#include <cstring>

void append(text_buffer &out, const char *text)
{
    while (*text && out.used + 1 < out.size)
        out.data[out.used++] = *text++;
    out.data[out.used] = '\0';
}

void append_echo(text_buffer &out, const char *text, size_t limit)
{
    size_t length = std::strlen(text);
    const bool cut = length > limit;
    if (cut) {
        length = limit;
        // Back to the start of a UTF-8 character: continuation bytes are 10xxxxxx.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            length--;
    }
    for (size_t i = 0; i < length && out.used + 1 < out.size; i++) {
        const auto byte = static_cast<unsigned char>(text[i]);
        out.data[out.used++] = byte == '|' ? '/' : byte < 0x20 || byte == 0x7F ? ' ' : static_cast<char>(byte);
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
