#include "rand15.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> first_draws(unsigned seed, int count)
{
    rand15_seed(seed);
    std::vector<int> draws;
    for (int i = 0; i < count; ++i)
        draws.push_back(rand15_draw());
    return draws;
}

TEST(Rand15, GivesTheClassicSequenceForASeed)
{
    struct Case {
        unsigned seed;
        std::vector<int> draws;
    } const cases[] = {
        { 1, { 16838, 5758, 10113, 17515, 31051 } },
        { 0, { 0, 21468, 9988, 22117, 3498 } },
        { 999, { 11484, 23652, 4527, 12734, 4107 } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(first_draws(c.seed, 5), c.draws) << "seed " << c.seed;
}

TEST(Rand15, DrawsStayInRangeAndReachBothEnds)
{
    Rand15 generator { 42 };
    bool saw_zero = false;
    bool saw_top = false;
    for (int i = 0; i < 1 << 20; ++i) {
        int draw = generator.draw();
        ASSERT_GE(draw, 0);
        ASSERT_LE(draw, 32767);
        saw_zero |= draw == 0;
        saw_top |= draw == 32767;
    }
    EXPECT_TRUE(saw_zero && saw_top);
}

} // namespace
