// Capture while the source changes under it, on the private sound server of
// scripts/run-tests.sh: the default source suspended and resumed, removed and
// another chosen, or another chosen while it stays. The blocks come back on
// their own within 2 s, from the source now chosen; the interruption counts as
// a lost block, no block holds sound from both sides of it, and stderr stays
// quiet, for none of this is a loss for the user. Each case makes null sinks
// of its own, records their monitors, and gives the server back the default
// source it found.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "capture/BlockRing.h"
#include "capture/PulseCapture.h"
#include "capture/tests/SoundTestSupport.h"
#include "measure/tests/WavFiles.h"

namespace harmolune {
namespace {

using namespace std::chrono_literals;
using testing::Child;
using testing::TempDir;

// Peak levels, of 128, of the tones played into the first source and into
// the one that follows it, and a level between them.
constexpr int kFirstLevel = 20;
constexpr int kNewLevel = 60;
constexpr int kBetweenLevels = 40;
// How long the blocks may take to come back once the source is back or chosen.
constexpr auto kRecoveryPatience = 2000ms;

// seconds of a 440 Hz sine at level (of 128), 8-bit mono.
std::string Tone(int level, double seconds) {
    testing::WavLayout layout;
    const int count = static_cast<int>(seconds * kSampleRate);
    for (int t = 0; t < count; ++t) {
        layout.samples.push_back(static_cast<std::uint8_t>(
            128 + std::lround(level * std::sin(2 * M_PI * 440.0 * t / kSampleRate))));
    }
    return testing::WavBytes(layout);
}

// Every block that arrives within duration.
std::vector<Block> Collect(BlockRing& ring, std::chrono::milliseconds duration) {
    std::vector<Block> blocks;
    Block block;
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        while (ring.Pop(block)) {
            blocks.push_back(block);
        }
        std::this_thread::sleep_for(10ms);
    }
    return blocks;
}

// The first blocks a new capture brings, waiting up to 5 s for two of them:
// a null sink that nothing plays into renders 2 s at a time.
std::vector<Block> FirstBlocks(BlockRing& ring) {
    std::vector<Block> blocks;
    for (int i = 0; i < 50 && blocks.size() < 2; ++i) {
        for (const Block& block : Collect(ring, 100ms)) {
            blocks.push_back(block);
        }
    }
    return blocks;
}

// The next block into out, waiting until deadline; false if none came.
bool NextBlock(BlockRing& ring, Block& out, std::chrono::steady_clock::time_point deadline) {
    while (!ring.Pop(out)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// The lowest peak level among the block's stretches of 1/256 s (each holds a
// whole period of the tones): a block that holds 4 ms of silence, or of a
// quieter tone, scores no more than that.
int QuietestStretch(const Block& block) {
    constexpr int kStretch = kSampleRate / 256;
    int quietest = 128;
    for (int start = 0; start < kFrameLength; start += kStretch) {
        int peak = 0;
        for (int i = start; i < start + kStretch; ++i) {
            peak = std::max(peak, std::abs(block[i] - 128));
        }
        quietest = std::min(quietest, peak);
    }
    return quietest;
}

class CaptureDeviceChange : public ::testing::Test {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_TEST_SOUND_SERVER();
        savedSource_ = Pactl({"get-default-source"});
        ASSERT_FALSE(savedSource_.empty());
    }

    void TearDown() override {
        for (const auto& [sink, module] : modules_) {
            Pactl({"unload-module", module});
        }
        if (savedSource_.empty()) {
            return;
        }
        Pactl({"set-default-source", savedSource_});
        // PulseAudio moves the test server's loopback along with the default
        // source, and the sink it listened to then renders 2 s at a time: with
        // the loopback back, a suspend and resume starts that sink again at
        // its short latency, as scripts/sound-server.sh does at the start.
        // Without it the next test to record would wait up to 2 s.
        const std::string monitor = ".monitor";
        if (savedSource_.ends_with(monitor)) {
            const std::string sink = savedSource_.substr(0, savedSource_.size() - monitor.size());
            Pactl({"suspend-sink", sink, "1"});
            Pactl({"suspend-sink", sink, "0"});
        }
    }

    // What pactl prints, without the last newline; a failure if it fails.
    std::string Pactl(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{"pactl"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Child pactl(argv, dir_ / "pactl.out", dir_ / "pactl.err");
        const int status = pactl.Wait();
        std::string out = testing::ReadWholeFile(dir_ / "pactl.out");
        EXPECT_EQ(status, 0) << "pactl " << arguments.front() << ": "
                             << testing::ReadWholeFile(dir_ / "pactl.err");
        while (!out.empty() && out.back() == '\n') {
            out.pop_back();
        }
        return out;
    }

    // A null sink of the case's own, mono, removed at the end; returns its
    // monitor, a source the case records.
    std::string AddSink(const std::string& name) {
        const std::string module =
            Pactl({"load-module", "module-null-sink", "sink_name=" + name, "channels=1",
                   "channel_map=mono", "sink_properties=device.description=" + name});
        if (!module.empty()) {
            modules_.emplace_back(name, module);
        }
        return name + ".monitor";
    }

    // Plays a tone of level (of 128) into sink until the case ends. A null
    // sink of PulseAudio that nothing plays into renders 2 s at a time, which
    // would hold back the first block of its monitor as long: once the player
    // is connected, a suspend and resume starts the sink again at the
    // player's short latency.
    std::unique_ptr<Child> PlayInto(const std::string& sink, int level) {
        const std::filesystem::path tone = dir_ / (sink + ".wav");
        testing::WriteFile(tone, Tone(level, 8.0));
        auto player =
            std::make_unique<Child>(std::vector<std::string>{"paplay", "--device=" + sink,
                                                             "--latency-msec=50", tone.string()},
                                    dir_ / (sink + ".out"), dir_ / (sink + ".err"));
        const std::string index = Field(Pactl({"list", "short", "sinks"}), 1, sink, 0);
        for (int i = 0; i < 100; ++i) {
            if (!Field(Pactl({"list", "short", "sink-inputs"}), 1, index, 0).empty()) {
                break;
            }
            std::this_thread::sleep_for(50ms);
        }
        Pactl({"suspend-sink", sink, "1"});
        Pactl({"suspend-sink", sink, "0"});
        return player;
    }

    void RemoveSink(const std::string& name) {
        for (auto it = modules_.begin(); it != modules_.end(); ++it) {
            if (it->first == name) {
                Pactl({"unload-module", it->second});
                modules_.erase(it);
                return;
            }
        }
        ADD_FAILURE() << "no sink " << name;
    }

    // In a table that `pactl list short` prints (tab-separated fields), field
    // wanted of the first line whose field key is value; "" if none.
    static std::string Field(const std::string& table, int key, const std::string& value,
                             int wanted) {
        std::istringstream lines(table);
        std::string line;
        while (std::getline(lines, line)) {
            std::vector<std::string> fields;
            std::istringstream cells(line);
            std::string cell;
            while (std::getline(cells, cell, '\t')) {
                fields.push_back(cell);
            }
            const int count = static_cast<int>(fields.size());
            if (key < count && wanted < count && fields[key] == value) {
                return fields[wanted];
            }
        }
        return "";
    }

    // The state pactl shows for source (RUNNING, IDLE, SUSPENDED).
    std::string SourceState(const std::string& source) {
        return Field(Pactl({"list", "short", "sources"}), 1, source, 4);
    }

    bool OnPipeWire() { return Pactl({"info"}).find("on PipeWire") != std::string::npos; }

    TempDir dir_;
    std::string savedSource_;
    std::vector<std::pair<std::string, std::string>> modules_;  // sink name, module index
};

TEST_F(CaptureDeviceChange, ASuspendedSourceComesBackAfterAGap) {
    const std::string sink = "harmolune_test_suspended";
    const std::string source = AddSink(sink);
    Pactl({"set-default-source", source});

    auto ring = std::make_unique<BlockRing>();
    PulseCapture capture;
    std::string error;
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(capture.Start(*ring, error)) << error;
    EXPECT_GE(FirstBlocks(*ring).size(), 2U);

    // PulseAudio suspends a monitor source with its sink, never alone.
    Pactl({"suspend-sink", sink, "1"});
    if (SourceState(source) != "SUSPENDED" && OnPipeWire()) {
        Pactl({"suspend-sink", sink, "0"});
        capture.Stop();
        ::testing::internal::GetCapturedStderr();
        GTEST_SKIP() << "PipeWire keeps a source that is recorded running";
    }
    EXPECT_EQ(SourceState(source), "SUSPENDED");
    Collect(*ring, 200ms);  // whatever was on its way
    EXPECT_EQ(Collect(*ring, 300ms).size(), 0U) << "blocks from a suspended source";
    const std::uint64_t droppedBefore = ring->Dropped();

    Pactl({"suspend-sink", sink, "0"});
    Block block;
    EXPECT_TRUE(NextBlock(*ring, block, std::chrono::steady_clock::now() + kRecoveryPatience))
        << "no block within 2 s of the resume";
    // The capture thread changes what Dropped() returns, which cppcheck
    // cannot see.
    // cppcheck-suppress knownConditionTrueFalse
    EXPECT_GT(ring->Dropped(), droppedBefore) << "the suspend was not counted as a lost block";
    capture.Stop();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(capture.Lost());
    EXPECT_EQ(capture.Recoveries(), 0);
}

struct SourceChange {
    const char* name;
    bool removeTheFirst;  // else the first stays, as when the user picks another
};

void PrintTo(const SourceChange& change, std::ostream* os) { *os << change.name; }

class CaptureDeviceChangeToAnother : public CaptureDeviceChange,
                                     public ::testing::WithParamInterface<SourceChange> {};

TEST_P(CaptureDeviceChangeToAnother, TheBlocksComeFromTheNewSourceAfterAGap) {
    const SourceChange& change = GetParam();
    const std::string first = AddSink("harmolune_test_first");
    const std::string second = AddSink("harmolune_test_second");
    Pactl({"set-default-source", first});
    // Each sink sounds a tone of its own level, which tells the sources apart.
    const std::unique_ptr<Child> firstPlayer = PlayInto("harmolune_test_first", kFirstLevel);
    const std::unique_ptr<Child> secondPlayer = PlayInto("harmolune_test_second", kNewLevel);

    auto ring = std::make_unique<BlockRing>();
    PulseCapture capture;
    std::string error;
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(capture.Start(*ring, error)) << error;
    const std::vector<Block> before = FirstBlocks(*ring);
    EXPECT_GE(before.size(), 2U);
    for (const Block& block : before) {
        EXPECT_NEAR(BlockLevel(block), kFirstLevel, 6) << "not the first source before the change";
    }
    const std::uint64_t droppedBefore = ring->Dropped();

    if (change.removeTheFirst) {
        RemoveSink("harmolune_test_first");
    }
    Pactl({"set-default-source", second});
    const auto deadline = std::chrono::steady_clock::now() + kRecoveryPatience;
    // Blocks of the first source, or of one the server moved the stream to
    // for a moment, may come first; the first that holds any of the new
    // source's tone must hold nothing else.
    Block block;
    bool heard = false;
    while (!heard && NextBlock(*ring, block, deadline)) {
        heard = BlockLevel(block) >= kBetweenLevels;
    }
    EXPECT_TRUE(heard) << "no block of the new source within 2 s";
    if (heard) {
        EXPECT_GE(QuietestStretch(block), kBetweenLevels)
            << "a block holds sound from before and after the change";
    }
    // cppcheck-suppress knownConditionTrueFalse
    EXPECT_GT(ring->Dropped(), droppedBefore) << "the change was not counted as a lost block";
    capture.Stop();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(capture.Lost());
    EXPECT_EQ(capture.Recoveries(), 0);
}

INSTANTIATE_TEST_SUITE_P(Sources, CaptureDeviceChangeToAnother,
                         ::testing::Values(SourceChange{"RemovedThenAnotherChosen", true},
                                           SourceChange{"AnotherChosen", false}),
                         [](const ::testing::TestParamInfo<SourceChange>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace harmolune
