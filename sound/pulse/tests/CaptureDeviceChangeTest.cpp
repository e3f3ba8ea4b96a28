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
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
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

// What the sinks sound, as levels of 128: the first a steady offset, which
// no stretch of silence or of a tone holds for long, the one that follows it
// a tone; and a level between them.
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

// seconds of a steady offset of level (of 128) above silence, 8-bit mono.
std::string Offset(int level, double seconds) {
    testing::WavLayout layout;
    layout.samples.assign(static_cast<std::size_t>(seconds * kSampleRate),
                          static_cast<std::uint8_t>(128 + level));
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

// The longest run of samples within 3 of 128 + level: the first sink's
// offset gives runs as long as it lasts, while the tone passes that level in
// a sample or two and silence never reaches it.
int LongestRunAt(const Block& block, int level) {
    int longest = 0;
    int run = 0;
    for (std::uint8_t sample : block) {
        run = std::abs(sample - 128 - level) <= 3 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

// Sinks of a case's own on the server PULSE_SERVER names, and pactl.
class SourceFixture : public ::testing::Test {
  protected:
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
        std::string out = testing::ReadFile(dir_ / "pactl.out");
        EXPECT_EQ(status, 0) << "pactl " << arguments.front() << ": "
                             << testing::ReadFile(dir_ / "pactl.err");
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

    // Plays the WAV file wav into sink until the case ends. A null
    // sink of PulseAudio that nothing plays into renders 2 s at a time, which
    // would hold back the first block of its monitor as long: once the player
    // is connected, a suspend and resume starts the sink again at the
    // player's short latency.
    std::unique_ptr<Child> PlayInto(const std::string& sink, const std::string& wav) {
        const std::filesystem::path tone = dir_ / (sink + ".wav");
        testing::WriteFile(tone, wav);
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
    std::string savedSource_;  // given back at the end unless empty
    std::vector<std::pair<std::string, std::string>> modules_;  // sink name, module index
};

// On the shared server of scripts/run-tests.sh.
class CaptureDeviceChange : public SourceFixture {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_TEST_SOUND_SERVER();
        savedSource_ = Pactl({"get-default-source"});
        ASSERT_FALSE(savedSource_.empty());
    }
};

// On a PulseAudio server of the case's own with one sink, whose monitor is
// then the only source.
class CaptureDeviceChangeOwnServer : public SourceFixture {
  protected:
    void SetUp() override {
        server_ = std::make_unique<testing::PrivateSoundServer>(dir_ / "server");
        ASSERT_TRUE(server_->WaitUntilReady());
        ownServer_.emplace("PULSE_SERVER", server_->Address());
    }

    std::unique_ptr<testing::PrivateSoundServer> server_;
    std::optional<testing::ScopedEnvironment> ownServer_;
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
    // Each sink sounds something of its own, which tells the sources apart.
    const std::unique_ptr<Child> firstPlayer =
        PlayInto("harmolune_test_first", Offset(kFirstLevel, 8.0));
    const std::unique_ptr<Child> secondPlayer =
        PlayInto("harmolune_test_second", Tone(kNewLevel, 8.0));

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
        // A server may fill the moment of the change with silence, which is
        // neither source; the first source's offset must not be there.
        EXPECT_LT(LongestRunAt(block, kFirstLevel), 16)
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

// With no other source to move to, the server ends the stream: that is a
// loss, said in one line, and capture comes back on its own, with one more
// line, once another source is there and chosen.
TEST_F(CaptureDeviceChangeOwnServer, TheOnlySourceRemovedThenAnotherChosen) {
    auto ring = std::make_unique<BlockRing>();
    PulseCapture capture;
    std::string error;
    ASSERT_TRUE(capture.Start(*ring, error)) << error;
    EXPECT_GE(FirstBlocks(*ring).size(), 2U);
    const std::uint64_t droppedBefore = ring->Dropped();

    ::testing::internal::CaptureStderr();
    // The loopback first, then both null sinks: no source is left.
    for (const char* kind : {"module-loopback", "module-null-sink", "module-null-sink"}) {
        Pactl({"unload-module", Field(Pactl({"list", "short", "modules"}), 1, kind, 0)});
    }
    for (int i = 0; i < 50 && !capture.Lost(); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(capture.Lost());
    Collect(*ring, 200ms);  // whatever was on its way

    // Counted from the moment the new source is there: the server may take
    // it as the default before it is chosen.
    const auto deadline = std::chrono::steady_clock::now() + kRecoveryPatience;
    const std::string source = AddSink("harmolune_test_other");
    const std::unique_ptr<Child> player = PlayInto("harmolune_test_other", Tone(kNewLevel, 8.0));
    Pactl({"set-default-source", source});
    Block block;
    bool heard = false;
    while (!heard && NextBlock(*ring, block, deadline)) {
        heard = BlockLevel(block) >= kBetweenLevels;
    }
    EXPECT_TRUE(heard) << "no block of the new source within 2 s";
    EXPECT_FALSE(capture.Lost());
    // cppcheck-suppress knownConditionTrueFalse
    EXPECT_GT(ring->Dropped(), droppedBefore) << "the loss was not counted as a lost block";
    capture.Stop();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::CountOf(err, PulseClient::kLostLine), 1) << err;
    EXPECT_EQ(testing::CountOf(err, PulseClient::kBackLine), 1) << err;
}

}  // namespace
}  // namespace harmolune
