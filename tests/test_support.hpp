// Helpers shared by the tests and the fuzzer: an in-memory source that hands
// out its bytes in reads of a chosen size, and a deliberately plain reference
// scan to compare the real one with.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "scan/engines.hpp"
#include "scan/scan.hpp"
#include "settings.hpp"

struct memory_source {
    const char *data;
    size_t size;
    size_t at;
    size_t read_most;  // the largest read it answers, to make reads cross lines and pieces
};

inline long read_memory(void *source, char *into, size_t capacity)
{
    memory_source &memory = *static_cast<memory_source *>(source);
    size_t n = memory.size - memory.at;
    if (n > capacity)
        n = capacity;
    if (n > memory.read_most)
        n = memory.read_most;
    std::memcpy(into, memory.data + memory.at, n);
    memory.at += n;
    return static_cast<long>(n);
}

inline pattern_forms one_form(const char *pattern)
{
    return {{pattern}, 1};
}

struct scan_outcome {
    int64_t match_count;
    std::string captured;
    bool operator==(const scan_outcome &) const = default;
};

inline scan_outcome scan_text(const std::string &input, const char *pattern, scan_engine engine,
                              size_t read_most = SIZE_MAX)
{
    memory_source source{input.data(), input.size(), 0, read_most};
    static scan_result result;  // 8 KB: kept off the fuzzer's small stack
    result = scan_input(one_form(pattern), read_memory, &source, engine);
    // An engine other than the one asked for would pass for it unseen.
    if (result.engine != engine)
        return {-1, std::string(engine_name(result.engine)) + " ran, not " + engine_name(engine)};
    return {result.match_count, result.captured};
}

// Lines are counted once if the pattern occurs anywhere in them; the capture
// takes fgets-sized pieces of at most 510 bytes, each up to its first NUL,
// while the capture stays within 7999 characters. The figures are written
// out, not taken from the program's headers, so that a changed constant fails.
inline scan_outcome reference_scan(const std::string &input, const std::string &pattern)
{
    scan_outcome outcome{0, ""};
    for (size_t start = 0; start < input.size();) {
        size_t newline = input.find('\n', start);
        size_t end = newline == std::string::npos ? input.size() : newline + 1;
        std::string line = input.substr(start, end - start);
        if (line.find(pattern) != std::string::npos)
            outcome.match_count++;
        for (size_t at = 0; at < line.size(); at += 510) {
            std::string piece = line.substr(at, 510);
            size_t visible = piece.find('\0');
            if (visible == std::string::npos)
                visible = piece.size();
            if (outcome.captured.size() + visible <= 7999)
                outcome.captured.append(piece, 0, visible);
        }
        start = end;
    }
    return outcome;
}

// The engines this processor runs, from the program's own table.
inline std::vector<scan_engine> supported_engines()
{
    std::vector<scan_engine> engines;
    for (const engine_entry &entry : ENGINES) {
        if (engine_runs(entry))
            engines.push_back(entry.engine);
    }
    return engines;
}
