// The input scan's face: one pass over the input counts the lines that hold
// the pattern and keeps a bounded copy of the text, cut into pieces the way
// a 511-byte fgets cuts it. The engines and their loops sit behind it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "input/reader.hpp"
#include "settings.hpp"

// The capture holds at most CAPTURE_LIMIT - 1 characters and its NUL.
inline constexpr int CAPTURE_LIMIT = 8000;
// A piece is what one fgets(buffer, 511, stream) into a 512-byte buffer
// would return: at most 510 characters.
inline constexpr int PIECE_LIMIT = 510;

// The longest pattern the fixed buffers can follow across reads. It is more
// than a Windows command line (32,767 characters) or a Linux argument with
// 4 KiB pages (131,071 bytes) can carry, but a kernel with 64 KiB pages
// takes arguments up to 2 MiB.
inline constexpr size_t PATTERN_LIMIT = size_t{128} * 1024;

// The ways of building the scan's byte masks. All give the same result, and
// the tests check each against the reference scan in tests/test_support.hpp,
// which is also the plainest statement of what the scan counts and captures.
enum class scan_engine { plain, sse2, avx2, avx512 };

struct scan_result {
    int64_t match_count;           // lines holding the pattern; 64 bits so it never wraps
    char captured[CAPTURE_LIMIT];  // the pieces that fitted, in input order, NUL-terminated
    int read_error;                // errno of a failed read, 0 when the input ended normally
    scan_engine engine;            // the engine that ran
};

// Whether the scan can follow every form across its reads: none is longer
// than PATTERN_LIMIT.
bool pattern_fits(const pattern_forms &forms);

// The engine's name, or the plain engine's for one this build lacks.
const char *engine_name(scan_engine engine);
scan_engine best_engine();  // decided once, on first use

// Reads `source` to its end with the engine, or the fastest that runs here
// of those after it, the plain one last. Refuses a pattern that does not
// fit, with read_error E2BIG, before reading anything.
scan_result scan_input(const pattern_forms &forms, block_reader read_block, void *source,
                       scan_engine engine = best_engine());
