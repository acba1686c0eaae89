#include "rand0_1.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fd_io.h"
#include "output.h"
#include "rand15.h"

namespace {

constexpr int kSeedModulus = 1000;
constexpr double kLargestDraw = 32767.0;

// Kept out of line, so that the call made for every line stays small.
[[noreturn, gnu::cold, gnu::noinline]] void out_of_range(double fraction)
{
    // Formatted on the stack and written as the output's last line, after
    // every line tagged so far; not through stdio, whose stream set-up would
    // ask the kernel for more than the sandbox allows.
    char diagnostic[64];
    int length
        = std::snprintf(diagnostic, sizeof diagnostic, "%f: rand return out of range\n", fraction);
    OutputBuffer& out = standard_output();
    if (out.flush() && length > 0 && static_cast<std::size_t>(length) < sizeof diagnostic)
        write_all(STDOUT_FILENO, { diagnostic, static_cast<std::size_t>(length) });
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
