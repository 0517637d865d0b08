// UTF-16 as text: the decoder's encoder on POSIX, and the repair a code page
// conversion needs first on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes units[0, count) as UTF-8, a lone surrogate as U+FFFD, at most
// 3 bytes a unit; returns how many bytes it wrote. A text_encoder, though it
// changes no unit.
size_t utf16_to_utf8(uint16_t *units, size_t count, char *out);

// Replaces each lone surrogate in units[0, count) with U+FFFD.
void repair_utf16(uint16_t *units, size_t count);
