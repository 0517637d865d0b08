// One pass over the input: counts the lines that contain the pattern and keeps
// a bounded copy of the text, cut into pieces the way a 511-byte fgets cuts it.
#pragma once

#include <cstddef>
#include <cstdint>

// The capture holds at most CAPTURE_LIMIT - 1 characters and its NUL.
inline constexpr int CAPTURE_LIMIT = 8000;
// A piece is what one fgets(buffer, READ_SIZE, stream) into a LINE_BUFFER_SIZE
// buffer would return: at most READ_SIZE - 1 characters.
inline constexpr int LINE_BUFFER_SIZE = 512;
inline constexpr int READ_SIZE = LINE_BUFFER_SIZE - 1;
inline constexpr int PIECE_LIMIT = READ_SIZE - 1;

// The longest pattern the fixed buffers can follow across reads; a longer
// one is refused. It is more than a Windows command line (32,767 characters)
// or a Linux argument with 4 KiB pages (131,071 bytes) can carry, but a
// kernel with 64 KiB pages takes arguments up to 2 MiB.
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

// Where the scan's bytes come from: fills at most `capacity` bytes of `into`
// and returns how many it filled, 0 at end of input, or -1 with errno set.
using block_reader = long (*)(void *source, char *into, size_t capacity);

// Reads the file descriptor that `source` points to (an int), retrying reads
// that a signal interrupted.
long read_descriptor(void *source, char *into, size_t capacity);

struct scan_state;
using buffer_scanner = void (*)(scan_state &state, const char *buffer, size_t length, size_t new_from);

struct engine_entry {
    scan_engine engine;
    const char *name;
    buffer_scanner scanner;
    bool (*runs)();  // whether this build and processor run it
};

// Each engine's scan of one buffer, and whether this build and processor
// run it. An engine file built without its instruction set (on another
// processor) says it never runs.
void plain_scan(scan_state &state, const char *buffer, size_t length, size_t new_from);
void sse2_scan(scan_state &state, const char *buffer, size_t length, size_t new_from);
void avx2_scan(scan_state &state, const char *buffer, size_t length, size_t new_from);
void avx512_scan(scan_state &state, const char *buffer, size_t length, size_t new_from);
bool sse2_runs();
bool avx2_runs();
bool avx512_runs();
inline bool always_runs()
{
    return true;
}

// Every engine, the fastest first; the plain one, last, runs everywhere.
// Constant: the table holds addresses only, so it is filled before any code
// runs, and may be read from another file's static initializer.
inline constexpr engine_entry ENGINES[] = {
    {scan_engine::avx512, "AVX-512", avx512_scan, avx512_runs},
    {scan_engine::avx2, "AVX2", avx2_scan, avx2_runs},
    {scan_engine::sse2, "SSE2", sse2_scan, sse2_runs},
    {scan_engine::plain, "plain", plain_scan, always_runs},
};
inline constexpr size_t ENGINE_COUNT = sizeof ENGINES / sizeof ENGINES[0];
// The lookups stop at the last entry, so it must run everywhere.
static_assert(ENGINES[ENGINE_COUNT - 1].engine == scan_engine::plain);

const char *engine_name(scan_engine engine);

bool engine_supported(scan_engine engine);
scan_engine best_engine();  // decided once, on first use

// The forms one pattern takes in the encodings a listing may come in (on
// Windows: the OEM and ANSI code pages and UTF-8), each different from the
// others. A line counts once when it holds any of them. Most runs have one.
inline constexpr size_t FORM_LIMIT = 3;
struct pattern_forms {
    const char *form[FORM_LIMIT];
    size_t count;
};

// Reads `source` to its end with the engine, or the best supported one after
// it in ENGINES. A pattern longer than PATTERN_LIMIT (which no command line
// can pass) is never found.
scan_result scan_input(const pattern_forms &forms, block_reader read_block, void *source,
                       scan_engine engine = best_engine());

inline scan_result scan_input(const char *pattern, block_reader read_block, void *source,
                              scan_engine engine = best_engine())
{
    return scan_input(pattern_forms{{pattern}, 1}, read_block, source, engine);
}
