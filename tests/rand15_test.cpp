#include "rand15.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// A million draws of one sequence reach every value from 0 to 32767, and no
// other: the tags of a long input cover all 32768 possible fractions.
TEST(Rand15, ReachesEveryValueOfItsRangeAndNoOther)
{
    std::vector<int> seen(32768);
    int outside = 0;
    for (int draw : first_draws(42, 1 << 20)) {
        if (draw < 0 || draw >= 32768)
            ++outside;
        else
            ++seen[static_cast<std::size_t>(draw)];
    }
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 0), 0) << "values never drawn";
}

} // namespace
