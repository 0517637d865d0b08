// The portable engine: byte masks built one byte at a time. It runs on any
// processor and is the reference the vector engines are tested against.
#include "scan_loop.hpp"

namespace {

struct plain_engine {
    static uint64_t equal_mask(const char *bytes, char wanted)
    {
        uint64_t mask = 0;
        for (unsigned i = 0; i < CHUNK; i++)
            mask |= uint64_t{bytes[i] == wanted} << i;
        return mask;
    }

    static bool has_byte(const char *bytes, char wanted) { return std::memchr(bytes, wanted, CHUNK) != nullptr; }
};

}  // namespace

const buffer_scanner plain_scanner = scan_buffer<plain_engine>;
