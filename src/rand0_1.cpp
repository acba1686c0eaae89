#include "rand0_1.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "output.h"
#include "rand15.h"

namespace {

constexpr int kSeedModulus = 1000;
constexpr double kLargestDraw = 32767.0;

// Kept out of line, so that the call made for every line stays small.
[[noreturn, gnu::cold, gnu::noinline]] void out_of_range(double fraction)
{
    // The output's last line, behind every line tagged so far. Formatted into
    // the output buffer, not through stdio, whose stream set-up would ask the
    // kernel for more than the sandbox allows. Unlike the messages of
    // diagnostic.cpp it uses snprintf with the sandbox on: should that ask
    // the system for memory, the filter's ENOSYS makes it fail, the line is
    // left out, and the exit status still tells. The line is at most 41
    // bytes for any int drawn, and the tagger leaves 64 at every draw.
    OutputBuffer& out = standard_output();
    int length = std::snprintf(out.end(), out.room(), "%f: rand return out of range\n", fraction);
    if (length > 0 && static_cast<std::size_t>(length) < out.room())
        out.set_end(out.end() + length);
    out.flush();
    std::exit(EXIT_FAILURE);
}

[[gnu::cold, gnu::noinline]] void seed_from_pid()
{
    rand15_seed(static_cast<unsigned>(getpid() % kSeedModulus));
}

} // namespace

double rand0_1()
{
    // Seeding on first use keeps a run over empty input from asking for its pid.
    static std::int32_t first = 1;
    if (first) {
        seed_from_pid();
        first = 0;
    }
    double fraction = rand15_draw() / kLargestDraw;
    if (fraction < 0.0 || fraction > 1.0)
        out_of_range(fraction);
    return fraction;
}
