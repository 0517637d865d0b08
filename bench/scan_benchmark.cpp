// Google Benchmark of the scan on in-memory input: dense and sparse listings,
// long lines, and long patterns, on every engine this processor supports.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "../tests/listing.hpp"
#include "../tests/test_support.hpp"

namespace {

// A session listing like bench/make_listing writes, with lines of one length.
std::string listing(size_t size, unsigned active_percent, size_t line_length = 60)
{
    return session_listing(size, {active_percent, line_length - 1, line_length - 1});
}

void scan(benchmark::State &run, const std::string &input, const std::string &pattern, scan_engine engine)
{
    // scan_text gives -1 when another engine ran in its place.
    if (scan_text("", "", engine).match_count < 0) {
        run.SkipWithError("engine not supported here");
        return;
    }
    for (auto _ : run)
        benchmark::DoNotOptimize(scan_text(input, pattern.c_str(), engine).match_count);
    run.SetBytesProcessed(static_cast<int64_t>(run.iterations() * input.size()));
}

// Small enough to stay in the last-level cache, so the figures are the scan's
// own cost rather than memory bandwidth.
const size_t SIZE = 8 << 20;

void dense(benchmark::State &run)
{
    static const std::string input = listing(SIZE, 80);
    scan(run, input, " Active ", static_cast<scan_engine>(run.range(0)));
}

void sparse(benchmark::State &run)
{
    static const std::string input = listing(SIZE, 1);
    scan(run, input, " Active ", static_cast<scan_engine>(run.range(0)));
}

void long_lines(benchmark::State &run)
{
    static const std::string input = listing(SIZE, 10, 3000);
    scan(run, input, " Active ", static_cast<scan_engine>(run.range(0)));
}

void pattern_100(benchmark::State &run)
{
    static const std::string input = listing(SIZE, 10);
    scan(run, input, std::string(92, 'x') + " Active ", static_cast<scan_engine>(run.range(0)));
}

void pattern_4k(benchmark::State &run)
{
    static const std::string input = listing(SIZE, 10);
    scan(run, input, std::string(4088, 'x') + " Active ", static_cast<scan_engine>(run.range(0)));
}

// Each workload on each engine of the program's table.
void each_engine(benchmark::internal::Benchmark *benchmark)
{
    benchmark->ArgName("engine")->Unit(benchmark::kMillisecond);
    for (const engine_entry &entry : ENGINES)
        benchmark->Arg(static_cast<int>(entry.engine));
}

BENCHMARK(dense)->Apply(each_engine);
BENCHMARK(sparse)->Apply(each_engine);
BENCHMARK(long_lines)->Apply(each_engine);
BENCHMARK(pattern_100)->Apply(each_engine);
BENCHMARK(pattern_4k)->Apply(each_engine);

}  // namespace

BENCHMARK_MAIN();
