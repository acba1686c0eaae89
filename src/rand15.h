#pragma once

#include <cstdint>

// The pseudo-random generator of the C standard's example, whose draws lie in
// 0..32767. It is also the generator of the classic Unix libc, so a seed gives
// the same sequence there as here. glibc's rand() draws from a wider range and
// cannot stand in for it.
struct Rand15 {
    std::uint32_t next = 1;

    constexpr int draw()
    {
        next = next * 1103515245u + 12345u;
        return static_cast<int>((next / 65536u) % 32768u);
    }
};

// The process-wide generator, seeded and drawn as with srand() and rand().
// Kept in a module of its own so that tests can link another in its place.
void rand15_seed(unsigned seed);
int rand15_draw();
