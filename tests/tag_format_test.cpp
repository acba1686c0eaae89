#include "tag_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "float_precision.h"

namespace {

std::string as_string(const TagField& field)
{
    return { field.begin(), field.end() };
}

// Every fraction a draw can give, and every whole number of the range: draws
// never give some numbers (1, for one), but their field must still be right.
TEST(TagFormat, MatchesPrintfForEveryFractionAndNumber)
{
    set_double_precision(); // so that printf is given the double product, x87 or not
    struct Sweep {
        const char* name;
        int last;
        double divisor;
    } const sweeps[] = { { "draw", 32767, 32767.0 }, { "number", 50000, 50000.0 } };
    for (const Sweep& sweep : sweeps) {
        for (int i = 0; i <= sweep.last; ++i) {
            double fraction = i / sweep.divisor;
            char expected[32];
            std::snprintf(expected, sizeof expected, "%8.0f", fraction * 50000.0);
            ASSERT_EQ(as_string(tag_field(fraction)), expected) << sweep.name << " " << i;
        }
    }
}

TEST(TagFormat, RoundsHalfwayToEvenAsPrintfDoes)
{
    struct Case {
        double value;
        unsigned rounded;
    } const cases[] = {
        { 0.5, 0 },
        { 1.5, 2 },
        { 2.5, 2 },
        { 49999.5, 50000 },
        { 0.49999999999999994, 0 },
        { 1.0000000000000002, 1 },
        { 12.500000000000002, 13 },
        { 0.0, 0 },
    };
    set_double_precision();
    for (const Case& c : cases) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%.0f", c.value);
        EXPECT_EQ(round_like_printf(c.value), c.rounded) << c.value;
        EXPECT_EQ(std::to_string(c.rounded), expected) << c.value;
    }
}

// 29009 / 32767 times 50000 lies just short of halfway between two doubles.
// Rounded first to an x87 register's 64 bits it lands on halfway, and storing
// it then rounds away from the double product, which fma rounds only once.
TEST(FloatPrecision, ProductsRoundOnceToDouble)
{
    set_double_precision();
    volatile double fraction = 29009 / 32767.0;
    double product = fraction * kTagScale;
    EXPECT_EQ(product, std::fma(fraction, kTagScale, 0.0));
}

} // namespace
