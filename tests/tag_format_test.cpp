#include "tag_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string as_string(const TagField& field)
{
    return { field.begin(), field.end() };
}

// Every fraction a draw can give, and every whole number of the range: draws
// never give some numbers (1, for one), but their field must still be right.
TEST(TagFormat, MatchesPrintfForEveryFractionAndNumber)
{
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
    for (const Case& c : cases) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%.0f", c.value);
        EXPECT_EQ(round_like_printf(c.value), c.rounded) << c.value;
        EXPECT_EQ(std::to_string(c.rounded), expected) << c.value;
    }
}

} // namespace
