// Capture through libpulse from the private sound server of
// scripts/run-tests.sh: a tone played into its sink with paplay comes back as
// blocks of its level and pitch, the capture level follows the source volume,
// stderr stays clean, and stopping really stops.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "sound/BlockRing.h"
#include "sound/pulse/PulseCapture.h"
#include "testing/SoundTestSupport.h"
#include "testing/WavFiles.h"

namespace harmolune {
namespace {

using namespace std::chrono_literals;
using testing::Child;
using testing::TempDir;

// seconds of a sine at frequencyHz and peak level (of 128), 8-bit mono.
std::string Tone(double frequencyHz, double level, double seconds) {
    testing::WavLayout layout;
    const int count = static_cast<int>(seconds * kSampleRate);
    for (int t = 0; t < count; ++t) {
        layout.samples.push_back(static_cast<std::uint8_t>(
            128 + std::lround(level * std::sin(2 * M_PI * frequencyHz * t / kSampleRate))));
    }
    return testing::WavBytes(layout);
}

// Sign changes from one sample to the next, counting only clear ones.
int ZeroCrossings(const Block& block) {
    int crossings = 0;
    int last = 0;
    for (std::uint8_t s : block) {
        const int sign = s > 130 ? 1 : (s < 126 ? -1 : 0);
        if (sign != 0 && last != 0 && sign != last) {
            ++crossings;
        }
        if (sign != 0) {
            last = sign;
        }
    }
    return crossings;
}

// Every block that arrives within `seconds`.
std::vector<Block> Collect(BlockRing& ring, std::chrono::milliseconds duration) {
    std::vector<Block> blocks;
    const auto end = std::chrono::steady_clock::now() + duration;
    Block block;
    while (std::chrono::steady_clock::now() < end) {
        while (ring.Pop(block)) {
            blocks.push_back(block);
        }
        std::this_thread::sleep_for(20ms);
    }
    return blocks;
}

struct PlayedTone {
    double frequencyHz;
    double level;
    const char* sourceVolume;
    double expectedLevel;  // the recorded level, 0 to 128
};

void PrintTo(const PlayedTone& t, std::ostream* os) {
    *os << t.frequencyHz << " Hz at level " << t.level << ", source at " << t.sourceVolume;
}

class PulseCaptureTest : public ::testing::TestWithParam<PlayedTone> {};

TEST_P(PulseCaptureTest, RecordsTheTonePlayedAtItsLevelAndPitch) {
    SKIP_WITHOUT_TEST_SOUND_SERVER();
    const PlayedTone& tone = GetParam();
    ASSERT_EQ(testing::SetCaptureVolume(tone.sourceVolume), 0);
    TempDir dir;
    testing::WriteFile(dir / "tone.wav", Tone(tone.frequencyHz, tone.level, 1.5));

    auto ring = std::make_unique<BlockRing>();
    PulseCapture capture;
    std::string error;
    ::testing::internal::CaptureStderr();
    const bool started = capture.Start(*ring, error);
    const std::string startErr = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(started) << error;
    EXPECT_EQ(startErr, "") << "ALSA or JACK talking at start-up";

    std::this_thread::sleep_for(300ms);
    Child player({"paplay", (dir / "tone.wav").string()}, dir / "out", dir / "err");
    const std::vector<Block> blocks = Collect(*ring, 3000ms);
    EXPECT_EQ(player.Wait(), 0) << testing::ReadFile(dir / "err");
    capture.Stop();
    EXPECT_FALSE(capture.Lost());
    EXPECT_GT(capture.LastBufferNanoseconds(), 0);

    // 1.5 s of tone fill at least 9 whole blocks. The first and the last
    // block that hold any of it may hold only a few milliseconds, whatever
    // their peak level, so only the blocks between them are counted.
    std::size_t first = blocks.size();
    std::size_t last = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (BlockLevel(blocks[i]) >= tone.expectedLevel / 2) {
            first = std::min(first, i);
            last = i;
        }
    }
    int toneBlocks = 0;
    for (std::size_t i = first + 1; i < last; ++i) {
        const Block& block = blocks[i];
        ++toneBlocks;
        EXPECT_NEAR(BlockLevel(block), tone.expectedLevel, tone.expectedLevel * 0.15);
        // A block is 1/8 s: two crossings per period.
        EXPECT_NEAR(ZeroCrossings(block) * 4.0, tone.frequencyHz, 8.0);
    }
    EXPECT_GE(toneBlocks, 9) << "of " << blocks.size() << " blocks";
}

// PulseAudio volumes are cubic: 126 % is about twice the amplitude.
INSTANTIATE_TEST_SUITE_P(Tones, PulseCaptureTest,
                         ::testing::Values(PlayedTone{440.0, 60, "100%", 60},
                                           PlayedTone{110.0, 40, "100%", 40},
                                           PlayedTone{1046.5, 20, "100%", 20},
                                           PlayedTone{440.0, 25, "126%", 50}));

TEST(PulseCapture, StopsForGoodAndStartsAgain) {
    SKIP_WITHOUT_TEST_SOUND_SERVER();
    auto ring = std::make_unique<BlockRing>();
    PulseCapture capture;
    capture.Stop();  // never started
    std::string error;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(capture.Start(*ring, error)) << error;
        EXPECT_FALSE(Collect(*ring, 800ms).empty()) << "round " << round;
        capture.Stop();
        capture.Stop();
        Collect(*ring, 100ms);
        EXPECT_TRUE(Collect(*ring, 500ms).empty()) << "a block after Stop, round " << round;
    }
}

}  // namespace
}  // namespace harmolune
