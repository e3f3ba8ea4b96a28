// The capture hand-over: order, completion from pieces of any size, dropping
// the oldest blocks when the reader falls behind, gaps in the sound, the
// wake-up, and no torn block while a writer thread runs flat out.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sound/BlockRing.h"

namespace harmolune {
namespace {

// Block number b starts with b in four bytes, and sample i after them is
// (b * 37 + i) % 256, so a copy mixing two blocks shows.
Block Numbered(std::uint64_t b) {
    Block block;
    for (int i = 0; i < kFrameLength; ++i) {
        block[i] = static_cast<std::uint8_t>((b * 37 + static_cast<std::uint64_t>(i)) % 256);
    }
    for (int i = 0; i < 4; ++i) {
        block[i] = static_cast<std::uint8_t>(b >> (8 * i));
    }
    return block;
}

// Which numbered block this is, or -1 when its samples are not one block's.
long long NumberOf(const Block& block) {
    std::uint64_t b = 0;
    for (int i = 0; i < 4; ++i) {
        b |= static_cast<std::uint64_t>(block[i]) << (8 * i);
    }
    return block == Numbered(b) ? static_cast<long long>(b) : -1;
}

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

TEST(BlockRing, DeliversBlocksInOrderWhateverThePieceSizes) {
    auto ring = std::make_unique<BlockRing>();
    const std::size_t pieces[] = {1, 7, 4096, 100, 3000, 5000};
    std::vector<std::uint8_t> stream;
    for (std::uint64_t b = 0; b < 3; ++b) {
        const Block block = Numbered(b);
        stream.insert(stream.end(), block.begin(), block.end());
    }
    std::size_t at = 0;
    for (std::size_t i = 0; at < stream.size(); ++i) {
        const std::size_t n = std::min(pieces[i % 6], stream.size() - at);
        ring->Push(stream.data() + at, n);
        at += n;
    }
    Block out{};
    for (std::uint64_t b = 0; b < 3; ++b) {
        ASSERT_TRUE(ring->Pop(out));
        EXPECT_EQ(out, Numbered(b)) << b;
    }
    EXPECT_FALSE(ring->Pop(out));
    EXPECT_EQ(ring->Dropped(), 0U);
}

TEST(BlockRing, PartialBlockIsNotDelivered) {
    auto ring = std::make_unique<BlockRing>();
    const Block block = Numbered(0);
    ring->Push(block.data(), kFrameLength - 1);
    Block out{};
    EXPECT_FALSE(ring->Pop(out));
    EXPECT_FALSE(Readable(ring->WakeUpFd()));
    ring->Push(block.data() + kFrameLength - 1, 1);
    EXPECT_TRUE(Readable(ring->WakeUpFd()));
    ASSERT_TRUE(ring->Pop(out));
    EXPECT_EQ(out, block);
}

TEST(BlockRing, WakeUpClearsAndComesBackWithTheNextBlock) {
    auto ring = std::make_unique<BlockRing>();
    ASSERT_GE(ring->WakeUpFd(), 0);
    const Block block = Numbered(1);
    ring->Push(block.data(), block.size());
    ring->Push(block.data(), block.size());
    EXPECT_TRUE(Readable(ring->WakeUpFd()));
    ring->ClearWakeUp();
    EXPECT_FALSE(Readable(ring->WakeUpFd()));
    ring->Push(block.data(), block.size());
    EXPECT_TRUE(Readable(ring->WakeUpFd()));
}

TEST(BlockRing, ReaderBehindLosesTheOldestBlocksNeverTheNewest) {
    auto ring = std::make_unique<BlockRing>();
    constexpr std::uint64_t kWritten = 20;
    for (std::uint64_t b = 0; b < kWritten; ++b) {
        const Block block = Numbered(b);
        ring->Push(block.data(), block.size());
    }
    std::vector<long long> got;
    Block out{};
    while (ring->Pop(out)) {
        got.push_back(NumberOf(out));
    }
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), static_cast<long long>(kWritten - 1));  // the newest is there
    for (std::size_t i = 1; i < got.size(); ++i) {
        EXPECT_EQ(got[i], got[i - 1] + 1);  // what is kept is consecutive
    }
    EXPECT_GE(got.size(), static_cast<std::size_t>(BlockRing::kSlots - 1));
    EXPECT_EQ(ring->Dropped() + got.size(), kWritten);
}

// What the capture thread does: push all of numbered block n, only its first
// half, or mark a gap.
struct WriterStep {
    enum { kWhole, kFirstHalf, kGap } what;
    std::uint64_t block = 0;
};

struct Taken {
    long long block;        // NumberOf the block Pop returned
    std::uint64_t dropped;  // Dropped() just after that Pop
    bool operator==(const Taken&) const = default;
};

struct GapCase {
    std::string name;
    std::vector<WriterStep> steps;
    std::vector<Taken> expected;
};

void PrintTo(const GapCase& c, std::ostream* os) { *os << c.name; }

class BlockRingGap : public ::testing::TestWithParam<GapCase> {};

TEST_P(BlockRingGap, NoBlockSpansAGapAndEachGapCountsAtTheBlockAfterIt) {
    const GapCase& c = GetParam();
    auto ring = std::make_unique<BlockRing>();
    for (const WriterStep& step : c.steps) {
        const Block block = Numbered(step.block);
        if (step.what == WriterStep::kGap) {
            ring->MarkGap();
        } else {
            ring->Push(block.data(),
                       step.what == WriterStep::kWhole ? kFrameLength : kFrameLength / 2);
        }
    }
    std::vector<Taken> taken;
    Block out{};
    while (ring->Pop(out)) {
        taken.push_back({NumberOf(out), ring->Dropped()});
    }
    EXPECT_EQ(taken.size(), c.expected.size());
    for (std::size_t i = 0; i < std::min(taken.size(), c.expected.size()); ++i) {
        EXPECT_EQ(taken[i].block, c.expected[i].block) << i;
        EXPECT_EQ(taken[i].dropped, c.expected[i].dropped) << i;
    }
}

constexpr auto kWhole = WriterStep::kWhole;
constexpr auto kHalf = WriterStep::kFirstHalf;
constexpr auto kGap = WriterStep::kGap;

INSTANTIATE_TEST_SUITE_P(
    Gaps, BlockRingGap,
    ::testing::Values(
        GapCase{"MidBlockDropsTheHalfBlock", {{kHalf, 0}, {kGap}, {kWhole, 1}}, {{1, 1}}},
        GapCase{"BetweenBlocksCountsOnlyAtTheBlockAfter",
                {{kWhole, 0}, {kGap}, {kWhole, 1}, {kWhole, 2}},
                {{0, 0}, {1, 1}, {2, 1}}},
        GapCase{"TwoGapsCountTwo",
                {{kWhole, 0}, {kGap}, {kHalf, 1}, {kGap}, {kWhole, 2}},
                {{0, 0}, {2, 2}}},
        GapCase{"NothingCountsBeforeABlockFollows", {{kWhole, 0}, {kGap}, {kHalf, 1}}, {{0, 0}}},
        GapCase{"WithoutAGapTheHalfBlockIsKept", {{kHalf, 5}, {kWhole, 1}}, {{-1, 0}}}),
    [](const ::testing::TestParamInfo<GapCase>& info) { return info.param.name; });

// The reader's rule, with a writer thread that marks a gap before every
// seventh block, after half of the block before it: whenever the block taken
// does not follow the one taken before, Dropped() grew during that Pop.
TEST(BlockRing, ConcurrentGapsAreSeenAtTheFirstBlockAfterThem) {
    auto ring = std::make_unique<BlockRing>();
    constexpr std::uint64_t kBlocks = 3000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (std::uint64_t b = 0; b < kBlocks; ++b) {
            const Block block = Numbered(b);
            if (b % 7 == 6) {
                ring->Push(block.data(), kFrameLength / 2);
                ring->MarkGap();
            }
            ring->Push(block.data(), 1000);
            ring->Push(block.data() + 1000, kFrameLength - 1000);
        }
        done = true;
    });
    long long last = -1;
    Block out{};
    for (;;) {
        const bool finished = done.load();
        for (std::uint64_t before = ring->Dropped(); ring->Pop(out); before = ring->Dropped()) {
            const long long number = NumberOf(out);
            ASSERT_NE(number, -1) << "a block joins samples across a gap after " << last;
            const bool follows = number == last + 1 && number % 7 != 6;
            if (!follows && last >= 0) {
                ASSERT_GT(ring->Dropped(), before) << "block " << number << " after " << last;
            }
            last = number;
        }
        if (finished) {
            break;
        }
    }
    writer.join();
    EXPECT_EQ(last, static_cast<long long>(kBlocks - 1));
}

TEST(BlockRing, ConcurrentWriterNeverTearsABlock) {
    auto ring = std::make_unique<BlockRing>();
    constexpr std::uint64_t kBlocks = 3000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (std::uint64_t b = 0; b < kBlocks; ++b) {
            const Block block = Numbered(b);
            // Odd pieces, so that blocks straddle pushes.
            ring->Push(block.data(), 1000);
            ring->Push(block.data() + 1000, kFrameLength - 1000);
        }
        done = true;
    });
    long long last = -1;
    std::uint64_t received = 0;
    Block out{};
    for (;;) {
        const bool finished = done.load();
        while (ring->Pop(out)) {
            const long long number = NumberOf(out);
            ASSERT_NE(number, -1) << "torn block after " << last;
            ASSERT_GT(number, last) << "out of order";
            last = number;
            ++received;
        }
        if (finished) {
            break;
        }
    }
    writer.join();
    EXPECT_EQ(last, static_cast<long long>(kBlocks - 1));
    EXPECT_EQ(received + ring->Dropped(), kBlocks);
}

}  // namespace
}  // namespace harmolune
