// The peak level of a block: |sample - 128| at its largest.
#include <gtest/gtest.h>

#include "core/Block.h"

namespace harmolune {
namespace {

TEST(BlockLevel, ExtremesAndSilence) {
    struct Case {
        const char* what;
        int index;
        int sample;
        int expected;
    };
    const Case cases[] = {
        {"pure silence", 0, 128, 0},           {"a 0 sample", 17, 0, 128},
        {"a 255 sample", 4095, 255, 127},      {"one step below silence", 2048, 127, 1},
        {"one step above silence", 0, 129, 1}, {"level 31", 100, 128 + 31, 31},
        {"level 32 below", 100, 128 - 32, 32}, {"level 91", 4000, 128 + 91, 91},
    };
    for (const Case& c : cases) {
        Block block;
        block.fill(128);
        block[c.index] = static_cast<std::uint8_t>(c.sample);
        EXPECT_EQ(BlockLevel(block), c.expected) << c.what;
    }
}

TEST(BlockLevel, TakesTheLargestDeviationWhateverItsSignOrPlace) {
    Block block;
    block.fill(128);
    block[0] = 128 + 40;
    block[1] = 128 - 41;
    block[4095] = 128 + 39;
    EXPECT_EQ(BlockLevel(block), 41);
    block[4095] = 128 - 60;  // the very last sample counts too
    EXPECT_EQ(BlockLevel(block), 60);
}

}  // namespace
}  // namespace harmolune
