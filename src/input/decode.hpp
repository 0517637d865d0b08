// Turns what arrives on standard input into the text the scan counts: a
// listing that starts with a UTF-16 byte-order mark is decoded, and where
// text files have CR LF line ends and Ctrl-Z as their end, those rules apply.
#pragma once

#include <cstddef>
#include <cstdint>

#include "input/reader.hpp"

// Raw UTF-16 is read in pieces of at most this size. The buffer is touched
// only by UTF-16 input, so other input's memory does not grow with it.
inline constexpr size_t RAW_SIZE = size_t{256} * 1024;

// Writes UTF-16 as text, a lone surrogate as U+FFFD, at most 3 bytes a
// unit; returns how many bytes it wrote. It may repair `units` in place.
using text_encoder = size_t (*)(uint16_t *units, size_t count, char *out);

enum class input_encoding { undecided, bytes, utf16le, utf16be };

struct input_decoder {
    block_reader read_raw;  // where the undecoded bytes come from
    void *raw_source;
    text_encoder encode;   // what UTF-16 becomes: the console's encoding
    bool text_file_rules;  // CR LF reads as LF and a Ctrl-Z byte ends the input
    input_encoding encoding;
    bool ended;                  // a Ctrl-Z was met, or the raw input ended
    bool held_cr;                // a CR ended the last output and may yet pair with an LF
    size_t raw_kept;             // undecoded bytes at the front of `raw`: half a unit or a high surrogate
    uint16_t raw[RAW_SIZE / 2];  // read as bytes, decoded into units in place
};

// A decoder that reads `source` through `read_raw`. 256 KiB: keep it static.
void start_decoder(input_decoder &decoder, block_reader read_raw, void *source, text_encoder encode,
                   bool text_file_rules);

// A block_reader over an input_decoder: fills `into` with decoded text. The
// capacity must be at least 16 bytes.
long read_decoded(void *source, char *into, size_t capacity);
