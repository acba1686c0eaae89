#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// What follows the text of every output line: a space, the tag right-aligned
// in 8 columns as printf's "%8.0f" would write it, and the newline.
inline constexpr std::size_t kTailSize = 10;
using Tail = std::array<char, kTailSize>;

inline constexpr double kTagScale = 50000.0;

// Rounds as "%.0f" does: to nearest, ties to even on the exact binary value.
// Only for values in [0, 2^31), which is all a tag can be.
constexpr std::uint32_t round_like_printf(double value)
{
    auto whole = static_cast<std::uint32_t>(value);
    double rest = value - whole; // exact: a double's fraction part is representable
    if (rest > 0.5 || (rest == 0.5 && (whole & 1u)))
        ++whole;
    return whole;
}

constexpr Tail make_tail(double fraction)
{
    Tail tail{' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', '0', '\n'};
    std::uint32_t number = round_like_printf(fraction * kTagScale);
    std::size_t at = kTailSize - 2;
    do {
        tail[at--] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0 && at > 0);
    return tail;
}
