// Feeds the line tagger arbitrary bytes in arbitrary block sizes and checks
// every output byte against the tests' plain model of what tagging means.
//
// Input: the first 8 bytes choose how the rest is cut into blocks; the rest
// is the stream. Each block and each output buffer lives in a heap allocation
// of exactly its size, so AddressSanitizer sees any read or write beyond it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "line_tagger.h"
#include "rand15.h"
#include "reference.h"

namespace {

constexpr std::uint32_t kSeed = 77;
Rand15 tagger_generator;

double next_fraction()
{
    return tagger_generator.draw() / 32767.0;
}

// Block sizes from 1 up to a limit that itself varies, so that runs see both
// byte-at-a-time input and blocks far longer than a line.
std::vector<std::size_t> block_sizes(std::uint64_t choice, std::size_t total)
{
    std::vector<std::size_t> sizes;
    Rand15 cut { static_cast<std::uint32_t>(choice) };
    std::size_t limit = std::size_t(1) << ((choice >> 32) % 17);
    for (std::size_t done = 0; done < total;) {
        std::size_t size = 1 + static_cast<std::size_t>(cut.draw() * 32768 + cut.draw()) % limit;
        size = std::min(size, total - done);
        sizes.push_back(size);
        done += size;
    }
    return sizes;
}

void put_out(OutputBuffer& out, std::string& tagged)
{
    tagged.append(out.pending().begin(), out.pending().end());
    out.discard();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint64_t choice = 0;
    std::size_t header = std::min<std::size_t>(size, sizeof choice);
    std::memcpy(&choice, data, header);
    std::string_view stream(reinterpret_cast<const char*>(data) + header, size - header);

    tagger_generator = Rand15 { kSeed };
    LineTagger<next_fraction> tagger;
    std::string tagged;
    std::size_t at = 0;
    for (std::size_t block : block_sizes(choice, stream.size())) {
        std::vector<char> input(stream.begin() + static_cast<std::ptrdiff_t>(at),
            stream.begin() + static_cast<std::ptrdiff_t>(at + block));
        std::vector<char> room(max_tagged_size(block));
        OutputBuffer out(-1, room);
        tagger.tag(input, out);
        put_out(out, tagged);
        at += block;
    }
    std::vector<char> room(kTailSize);
    OutputBuffer out(-1, room);
    tagger.finish(out);
    put_out(out, tagged);

    if (tagged != tagged_reference(stream, Rand15 { kSeed })) {
        std::fprintf(stderr, "output differs from the model (%zu bytes in, %zu out)\n",
            stream.size(), tagged.size());
        std::abort();
    }
    return 0;
}
