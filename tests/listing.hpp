// One generator of session listings for the tests, the scan's benchmark and
// bench/make_listing: a header line, then one session a line shaped like
// `query user`'s, a share of them holding the active state. The same seed
// gives the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct listing_shape {
    unsigned active_percent;
    size_t shortest = 0, longest = 0;  // line lengths without the newline; 0 and 0 keep each as made
    const char *active = " Active ";   // what an active session's line holds
};

struct listing_generator {
    uint64_t random = 0x2545F4914F6CDD1D;
    uint64_t session = 0;

    uint64_t next(uint64_t below)
    {
        random ^= random << 13;
        random ^= random >> 7;
        random ^= random << 17;
        return random % below;
    }

    // Appends sessions to `out` until it holds at least `size` bytes.
    void append(std::string &out, size_t size, const listing_shape &shape)
    {
        static const char *const NAMES[] = {"alvarez", "baker", "chen",   "dubois", "eriksen",  "fischer", "garcia",
                                            "haddad",  "ito",   "jansen", "larsen", "nakamura", "okafor",  "petrov",
                                            "quinn",   "rossi", "silva",  "tanaka", "weber",    "xu",      "yilmaz"};
        static const char *const OTHER_STATES[] = {" Disc ", " Idle ", " Listen ", " Conn "};
        static const char FILLER[] = "abcdefghij klmnop:.";
        for (; out.size() < size; session++) {
            const bool active = next(100) < shape.active_percent;
            char line[160];
            std::snprintf(line, sizeof line, "rdp-tcp#%-5llu %c.%-13s %-6llu%-9s%-6s 2026-12-%02llu %02llu:%02llu",
                          static_cast<unsigned long long>(session % 100000), static_cast<char>('a' + next(26)),
                          NAMES[next(21)], static_cast<unsigned long long>(2 + session % 65000),
                          active ? shape.active : OTHER_STATES[next(4)], active ? "." : "3:07",
                          static_cast<unsigned long long>(1 + next(28)), static_cast<unsigned long long>(next(24)),
                          static_cast<unsigned long long>(next(60)));
            std::string entry = line;
            if (shape.longest > 0) {
                const size_t length = shape.shortest + next(shape.longest - shape.shortest + 1);
                while (entry.size() < length)
                    entry += FILLER[next(sizeof FILLER - 1)];
                entry.resize(length);
            }
            out += entry;
            out += '\n';
        }
    }
};

inline const char *const LISTING_HEADER = "SESSION      USER            ID     STATE    IDLE   LOGON TIME\n";

// A whole listing of at least `size` bytes.
inline std::string session_listing(size_t size, const listing_shape &shape, uint64_t seed = 0x2545F4914F6CDD1D)
{
    listing_generator generator{seed};
    std::string text = LISTING_HEADER;
    generator.append(text, size, shape);
    return text;
}
