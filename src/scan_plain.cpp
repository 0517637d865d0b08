// The portable engine: byte masks built one byte at a time. It runs on any
// processor and is the reference the vector engines are tested against.
#include "scan_loop.hpp"

namespace {

uint64_t plain_equal_mask(const char *bytes, char wanted)
{
    uint64_t mask = 0;
    for (unsigned i = 0; i < CHUNK; i++)
        mask |= uint64_t{bytes[i] == wanted} << i;
    return mask;
}

bool plain_has_nul(const char *bytes)
{
    return std::memchr(bytes, 0, CHUNK) != nullptr;
}

}  // namespace

const buffer_scanner plain_scanner = scan_buffer<plain_equal_mask, plain_has_nul>;
