// Where the scan's bytes come from: a block_reader, such as the platform's
// read_descriptor or the decoder's read_decoded.
#pragma once

#include <cstddef>

// Fills at most `capacity` bytes of `into` from `source` and returns how many
// it filled, 0 at end of input, or -1 with errno set.
using block_reader = long (*)(void *source, char *into, size_t capacity);
