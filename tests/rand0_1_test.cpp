#include "rand0_1.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "scripted_rand15.h"

namespace {

// One test only: seeding happens once per process, and this is its process.
TEST(Rand0_1, SeedsOnceFromThePidOnFirstCallAndMapsDrawsExactly)
{
    set_script({ 0, 32767, 16384, 1 });
    EXPECT_EQ(seed_count(), 0);

    EXPECT_EQ(rand0_1(), 0.0);
    EXPECT_EQ(seed_count(), 1);
    EXPECT_EQ(last_seed(), static_cast<unsigned>(getpid() % 1000));
    EXPECT_EQ(draws_before_first_seed(), 0);

    EXPECT_EQ(rand0_1(), 1.0);
    EXPECT_EQ(rand0_1(), 16384 / 32767.0);
    EXPECT_EQ(rand0_1(), 1 / 32767.0);
    for (int i = 0; i < 100; ++i)
        rand0_1();
    EXPECT_EQ(seed_count(), 1);
}

} // namespace
