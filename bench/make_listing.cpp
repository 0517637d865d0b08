// Writes a deterministic session listing of about the given size, with the
// given share of sessions active, for bench/compare. The tests and the
// scan's benchmark build theirs with the same generator.
#include <cstdio>
#include <cstdlib>

#include "../tests/listing.hpp"

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_listing BYTES ACTIVE_PERCENT > listing\n");
        return 2;
    }
    const unsigned long long size = std::strtoull(argv[1], nullptr, 10);
    const listing_shape shape{static_cast<unsigned>(std::atoi(argv[2]))};
    listing_generator generator;
    std::string block = LISTING_HEADER;
    // In blocks of about 1 MiB, so memory stays small for any size.
    for (unsigned long long written = 0; written < size; block.clear()) {
        const unsigned long long left = size - written;
        generator.append(block, left < (1 << 20) ? static_cast<size_t>(left) : size_t{1} << 20, shape);
        if (std::fwrite(block.data(), 1, block.size(), stdout) != block.size())
            return 1;
        written += block.size();
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
