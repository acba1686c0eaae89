#pragma once

#include <array>
#include <bit>
#include <cstdint>

// A tag as printf's "%8.0f" writes fraction * 50000.0: the number rounded to
// a whole one and right-aligned in 8 columns.
using TagField = std::array<char, 8>;

inline constexpr double kTagScale = 50000.0;

// Rounds as "%.0f" does: to nearest, ties to even on the exact binary value.
// Adding 2^52 leaves a double no bits for a fraction, so the addition itself
// rounds, in the default rounding mode (which vormel never changes) to nearest
// with ties to even; the whole number is then the low bits of the result. This
// is a few instructions on a path taken once per line. For values in [0, 2^32).
constexpr std::uint32_t round_like_printf(double value)
{
    return static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(value + 0x1p52));
}

namespace tag_format_detail {

// A tag field is built in one 64-bit word, column c in byte c (in memory order
// on a little-endian machine). Columns 0-2 are always blank: a tag has at most
// five digits.
constexpr std::uint64_t column(int c, char ch)
{
    return std::uint64_t(static_cast<unsigned char>(ch)) << (8 * c);
}

constexpr std::uint64_t kBlank = 0x2020202020202020u;

// Columns 0-5 for the hundreds of a number (0..999), leading zeros blank.
constexpr auto kHundreds = [] {
    std::array<std::uint64_t, 1000> table {};
    for (int hundreds = 0; hundreds < 1000; ++hundreds) {
        std::uint64_t word = kBlank & 0xFFFFFFFFFFFFu;
        int rest = hundreds;
        for (int c = 5; rest != 0; --c, rest /= 10)
            word = (word & ~column(c, '\xff')) | column(c, static_cast<char>('0' + rest % 10));
        table[static_cast<std::size_t>(hundreds)] = word;
    }
    return table;
}();

// Columns 6-7 for the last two digits: both digits after a non-zero
// hundreds part, else with the leading zero blank.
constexpr auto make_last_two(bool after_hundreds)
{
    std::array<std::uint64_t, 100> table {};
    for (int n = 0; n < 100; ++n) {
        char tens = (n < 10 && !after_hundreds) ? ' ' : static_cast<char>('0' + n / 10);
        table[static_cast<std::size_t>(n)]
            = column(6, tens) | column(7, static_cast<char>('0' + n % 10));
    }
    return table;
}
constexpr auto kLastTwo = make_last_two(true);
constexpr auto kLastTwoAlone = make_last_two(false);

} // namespace tag_format_detail

// Runs once per line, so it does no division by 10 and takes no branch that
// random tags would make mispredict: two lookups in tables of 4.5 KiB.
constexpr TagField tag_field(double fraction)
{
    using namespace tag_format_detail;
    std::uint32_t number = round_like_printf(fraction * kTagScale);
    if (number > 99999) // beyond five digits: never for fractions in [0, 1]
        number = 99999;
    std::uint32_t hundreds = number / 100;
    std::uint32_t last_two = number % 100;
    std::uint64_t word
        = kHundreds[hundreds] | (hundreds != 0 ? kLastTwo[last_two] : kLastTwoAlone[last_two]);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    return std::bit_cast<TagField>(word);
}
