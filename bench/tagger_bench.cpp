// Nanoseconds per line of the tagging core, without process or pipe costs.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "line_tagger.h"
#include "rand0_1.h"

namespace {

constexpr std::size_t kBlock = 128 << 10;

struct Mix {
    const char* name;
    std::size_t min_length;
    std::size_t max_length;
};
constexpr Mix kMixes[] = { { "words", 14, 96 }, { "short", 0, 8 }, { "long", 2048, 6144 } };

std::string make_text(const Mix& mix, std::size_t size, std::size_t& lines)
{
    std::mt19937 random(1);
    std::uniform_int_distribution<std::size_t> length(mix.min_length, mix.max_length);
    std::uniform_int_distribution<int> letter('a', 'z');
    std::string text;
    lines = 0;
    while (text.size() < size) {
        for (std::size_t n = length(random); n > 0; --n)
            text += static_cast<char>(letter(random));
        text += '\n';
        ++lines;
    }
    return text;
}

void tag_lines(benchmark::State& state)
{
    const Mix& mix = kMixes[state.range(0)];
    std::size_t lines = 0;
    std::string text = make_text(mix, 8 * kBlock, lines);
    std::vector<char> storage(max_tagged_size(kBlock));
    OutputBuffer out(-1, storage);
    LineTagger<rand0_1> tagger;
    for (auto _ : state) {
        for (std::size_t at = 0; at < text.size(); at += kBlock) {
            tagger.tag(std::string_view(text).substr(at, kBlock), out);
            benchmark::DoNotOptimize(out.pending().data());
            out.discard();
        }
    }
    state.SetLabel(mix.name);
    // Shown with an SI prefix: "12n" is 12 ns a line.
    state.counters["per_line"] = benchmark::Counter(
        static_cast<double>(state.iterations() * static_cast<benchmark::IterationCount>(lines)),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(tag_lines)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
