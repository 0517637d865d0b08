// Where the scan's bytes come from: a block_reader, and the one that reads a
// file descriptor.
#pragma once

#include <cstddef>

// Fills at most `capacity` bytes of `into` from `source` and returns how many
// it filled, 0 at end of input, or -1 with errno set.
using block_reader = long (*)(void *source, char *into, size_t capacity);

// Reads the file descriptor that `source` points to (an int), retrying reads
// that a signal interrupted.
long read_descriptor(void *source, char *into, size_t capacity);
