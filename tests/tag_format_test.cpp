#include "tag_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string as_string(const TagField& field)
{
    return { field.begin(), field.end() };
}

TEST(TagFormat, MatchesPrintfForEveryPossibleFraction)
{
    for (int draw = 0; draw <= 32767; ++draw) {
        double fraction = draw / 32767.0;
        char expected[32];
        std::snprintf(expected, sizeof expected, "%8.0f", fraction * 50000.0);
        ASSERT_EQ(as_string(tag_field(fraction)), expected) << "draw " << draw;
    }
}

// Draws never give some numbers (1, for one); the field must still be right.
TEST(TagFormat, MatchesPrintfForEveryWholeNumberOfTheRange)
{
    for (int number = 0; number <= 50000; ++number) {
        double fraction = number / 50000.0;
        char expected[32];
        std::snprintf(expected, sizeof expected, "%8.0f", fraction * 50000.0);
        ASSERT_EQ(as_string(tag_field(fraction)), expected) << "number " << number;
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
