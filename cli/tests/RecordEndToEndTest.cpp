// harmolune-measure --record end to end, through the private sound server of
// scripts/run-tests.sh: a tone made here is played into the server's sink
// with paplay while the real tool records the sink's monitor, and the tool
// reads the tone's frequency to within half a hertz, and its fine reading to
// within 0.05 cent, with nothing on stderr.
// Also through a server of the test's own that dies while the tool records and
// is started again: the tool carries on and measures the tone played after.
// And with a second sink beside the default one, each playing a tone of its
// own: each way of choosing the source (--source, PULSE_SOURCE, moving the
// stream as pavucontrol's Recording tab does, changing the default as desktop
// sound settings do, or none) records the tone of the source chosen and not
// the other; --list-sources lists both as pactl does.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <thread>

#include "testing/SoundTestSupport.h"
#include "testing/WavFiles.h"

namespace harmolune {
namespace {

using namespace std::chrono_literals;
using testing::Child;
using testing::ReadFile;
using testing::TempDir;

struct LiveCase {
    std::vector<std::string> note;  // the tool's note arguments
    double toneHz;                  // what is played
};

void PrintTo(const LiveCase& c, std::ostream* os) {
    for (const std::string& a : c.note) {
        *os << a << ' ';
    }
    *os << "playing " << c.toneHz << " Hz";
}

// The number after "result\t" in the tool's output, or NaN.
double Result(const std::string& out) {
    const std::size_t at = out.rfind("result\t");
    if (at == std::string::npos || out.find(" Hz", at) == std::string::npos) {
        return std::nan("");
    }
    return std::stod(out.substr(at + 7));
}

// The hertz of the "fine" line (hertz, cents, uncertainty, seconds,
// tab-separated), or NaN when there is none.
double Fine(const std::string& out) {
    const std::size_t at = out.rfind("fine\t");
    if (at == std::string::npos || out.compare(at + 5, 2, "-\n") == 0) {
        return std::nan("");
    }
    return std::stod(out.substr(at + 5));
}

class RecordEndToEnd : public ::testing::TestWithParam<LiveCase> {};

TEST_P(RecordEndToEnd, MeasuresThePlayedToneAndItsFineReading) {
    SKIP_WITHOUT_TEST_SOUND_SERVER();
    const LiveCase& c = GetParam();
    ASSERT_EQ(testing::SetCaptureVolume("100%"), 0);
    TempDir dir;
    testing::WriteFile(dir / "tone.wav", testing::FadedToneWav(c.toneHz));

    std::vector<std::string> args{HARMOLUNE_MEASURE_TOOL};
    args.insert(args.end(), c.note.begin(), c.note.end());
    args.insert(args.end(), {"--record", "48"});
    Child tool(args, dir / "tool.out", dir / "tool.err");
    std::this_thread::sleep_for(600ms);
    Child player({"paplay", (dir / "tone.wav").string()}, dir / "play.out", dir / "play.err");
    ASSERT_EQ(player.Wait(), 0) << ReadFile(dir / "play.err");
    ASSERT_EQ(tool.Wait(), 0) << ReadFile(dir / "tool.err");

    EXPECT_EQ(ReadFile(dir / "tool.err"), "");
    const std::string out = ReadFile(dir / "tool.out");
    EXPECT_NEAR(Result(out), c.toneHz, 0.5) << out;
    // The sound server resamples the tone to its sink's rate and back, and
    // keeps its pitch: the fine reading claims hundredths of a cent.
    EXPECT_NEAR(1200.0 * std::log2(Fine(out) / c.toneHz), 0.0, 0.05) << out;
}

// The keys and strings the tool is told, and tones on and off their pitch:
// a tuner has to read an instrument that is out of tune. No tone sits on a
// multiple of 8 Hz: a tone in the middle of a bin leaves its two neighbours,
// and so the estimate, to the quantisation noise (the method, not the sound
// path).
INSTANTIATE_TEST_SUITE_P(Tones, RecordEndToEnd,
                         ::testing::Values(LiveCase{{"--key", "9", "--octave", "4"}, 441.3},
                                           LiveCase{{"--key", "9", "--octave", "4"}, 443.0},
                                           LiveCase{{"--string", "4"}, 82.41},
                                           LiveCase{{"--string", "19"}, 196.0},
                                           LiveCase{{"--key", "0", "--octave", "6"}, 1046.5}));

// The server is the test's own, killed 0.6 s into the recording and started
// again on the same socket 0.3 s later; the tone is played once it answers.
TEST(RecordEndToEndRestart, AServerThatComesBackIsRecordedAgainAndTheToneMeasured) {
    TempDir dir;
    testing::PrivateSoundServer server(dir / "server");
    ASSERT_TRUE(server.WaitUntilReady());
    const std::string pulseServer = "PULSE_SERVER=" + server.Address();
    testing::WriteFile(dir / "tone.wav", testing::FadedToneWav(441.3));

    Child tool({HARMOLUNE_MEASURE_TOOL, "--key", "9", "--octave", "4", "--record", "72"},
               dir / "tool.out", dir / "tool.err", {pulseServer});
    std::this_thread::sleep_for(600ms);
    server.Kill();
    std::this_thread::sleep_for(300ms);
    server.Start();
    ASSERT_TRUE(server.WaitUntilReady());
    std::this_thread::sleep_for(1000ms);
    Child player({"paplay", (dir / "tone.wav").string()}, dir / "play.out", dir / "play.err",
                 {pulseServer});
    ASSERT_EQ(player.Wait(), 0) << ReadFile(dir / "play.err");
    ASSERT_EQ(tool.Wait(), 0) << ReadFile(dir / "tool.err");

    EXPECT_EQ(ReadFile(dir / "tool.err"),
              "harmolune-measure: son perdu : le serveur audio ou le périphérique d'entrée a "
              "disparu\n"
              "harmolune-measure: son rétabli\n");
    const std::string out = ReadFile(dir / "tool.out");
    EXPECT_NEAR(Result(out), 441.3, 0.5) << out;
}

// Ways to choose where the tool records from. The second sink's monitor
// carries 441.3 Hz, the default source 452.7 Hz: both inside the band of La 4
// (396 to 484 Hz), so a recording of both together would read neither.
constexpr const char* kSecondSink = "harmolune_second";
constexpr const char* kSecondSource = "harmolune_second.monitor";
constexpr double kSecondHz = 441.3;
constexpr double kDefaultHz = 452.7;

enum class Choice { kNone, kSourceOption, kEnvironment, kMovedWhileRecording, kDefaultChanged };

struct SourceCase {
    const char* name;
    Choice choice;
    double expectedHz;
};

void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.name; }

class RecordFromSource : public ::testing::TestWithParam<SourceCase> {
  protected:
    void SetUp() override {
        SKIP_WITHOUT_TEST_SOUND_SERVER();
        ASSERT_EQ(testing::SetCaptureVolume("100%"), 0);
        module_ = Pactl({"load-module", "module-null-sink", std::string("sink_name=") + kSecondSink,
                         "channels=1", "channel_map=mono",
                         "sink_properties=device.description=Harmolune_second"});
        ASSERT_FALSE(module_.empty());
    }
    void TearDown() override {
        if (!savedDefault_.empty()) {
            Pactl({"set-default-source", savedDefault_});
            // PulseAudio moved the server's loopback along with the default,
            // and the sink it listened to then renders 2 s at a time: a
            // suspend and resume brings it back to its short latency, as
            // scripts/sound-server.sh does at the start.
            const std::string sink = savedDefault_.substr(0, savedDefault_.rfind(".monitor"));
            Pactl({"suspend-sink", sink, "1"});
            Pactl({"suspend-sink", sink, "0"});
        }
        if (!module_.empty()) {
            Pactl({"unload-module", module_});
        }
    }

    // What pactl prints; a failure if it fails.
    std::string Pactl(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{"pactl"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Child pactl(argv, dir_ / "pactl.out", dir_ / "pactl.err");
        EXPECT_EQ(pactl.Wait(), 0)
            << "pactl " << arguments.front() << ": " << ReadFile(dir_ / "pactl.err");
        std::string out = ReadFile(dir_ / "pactl.out");
        while (!out.empty() && out.back() == '\n') {
            out.pop_back();
        }
        return out;
    }

    // The index of the recording stream of process pid, as `pactl list
    // source-outputs` shows it; empty while there is none.
    std::string SourceOutputOf(pid_t pid) {
        const std::string list = Pactl({"list", "source-outputs"});
        const std::string owner = "application.process.id = \"" + std::to_string(pid) + "\"";
        const std::size_t at = list.find(owner);
        if (at == std::string::npos) {
            return "";
        }
        const std::string heading = "Source Output #";
        const std::size_t start = list.rfind(heading, at);
        if (start == std::string::npos) {
            return "";
        }
        const std::size_t from = start + heading.size();
        return list.substr(from, list.find('\n', from) - from);
    }

    // The index of the source named name, and of the source that recording
    // stream reads, as `pactl list short` gives them; empty when unknown.
    std::string SourceIndex(const std::string& name) {
        std::istringstream lines(Pactl({"list", "short", "sources"}));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string index;
            std::string source;
            if (fields >> index >> source && source == name) {
                return index;
            }
        }
        return "";
    }
    std::string SourceOfOutput(const std::string& stream) {
        std::istringstream lines(Pactl({"list", "short", "source-outputs"}));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string index;
            std::string source;
            if (fields >> index >> source && index == stream) {
                return source;
            }
        }
        return "";
    }

    TempDir dir_;
    std::string module_;
    std::string savedDefault_;  // the default source, once a case changed it
};

TEST_P(RecordFromSource, RecordsTheChosenSourceAndNotTheOther) {
    const SourceCase& c = GetParam();
    testing::WriteFile(dir_ / "second.wav", testing::FadedToneWav(kSecondHz));
    testing::WriteFile(dir_ / "default.wav", testing::FadedToneWav(kDefaultHz));

    std::vector<std::string> args{
        HARMOLUNE_MEASURE_TOOL, "--key", "9", "--octave", "4", "--record", "48"};
    std::vector<std::string> environment;
    if (c.choice == Choice::kSourceOption) {
        args.insert(args.end(), {"--source", kSecondSource});
    } else if (c.choice == Choice::kEnvironment) {
        environment.push_back(std::string("PULSE_SOURCE=") + kSecondSource);
    }
    Child tool(args, dir_ / "tool.out", dir_ / "tool.err", environment);
    std::this_thread::sleep_for(600ms);
    if (c.choice == Choice::kMovedWhileRecording) {
        std::string stream;
        for (int i = 0; i < 40 && stream.empty(); ++i) {
            stream = SourceOutputOf(tool.Pid());
            std::this_thread::sleep_for(50ms);
        }
        ASSERT_FALSE(stream.empty()) << "the tool's stream never showed";
        // As pavucontrol does. Whether the move held is the server's
        // business (PipeWire's session manager may still be placing the
        // stream): the test moves it again until it sits on the source.
        bool moved = false;
        for (int i = 0; i < 20 && !moved; ++i) {
            Pactl({"move-source-output", stream, kSecondSource});
            std::this_thread::sleep_for(150ms);
            moved = SourceOfOutput(stream) == SourceIndex(kSecondSource);
        }
        ASSERT_TRUE(moved) << "the server never kept the tool's stream on " << kSecondSource;
        std::this_thread::sleep_for(150ms);
    } else if (c.choice == Choice::kDefaultChanged) {
        savedDefault_ = Pactl({"get-default-source"});
        Pactl({"set-default-source", kSecondSource});
        std::this_thread::sleep_for(300ms);
    }
    Child second({"paplay", std::string("--device=") + kSecondSink, (dir_ / "second.wav").string()},
                 dir_ / "second.out", dir_ / "second.err");
    Child other({"paplay", (dir_ / "default.wav").string()}, dir_ / "default.out",
                dir_ / "default.err");
    ASSERT_EQ(second.Wait(), 0) << ReadFile(dir_ / "second.err");
    ASSERT_EQ(other.Wait(), 0) << ReadFile(dir_ / "default.err");
    ASSERT_EQ(tool.Wait(), 0) << ReadFile(dir_ / "tool.err");

    EXPECT_EQ(ReadFile(dir_ / "tool.err"), "");
    const std::string out = ReadFile(dir_ / "tool.out");
    EXPECT_NEAR(Result(out), c.expectedHz, 0.5) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Choices, RecordFromSource,
    ::testing::Values(SourceCase{"NoneGivesTheDefault", Choice::kNone, kDefaultHz},
                      SourceCase{"SourceOption", Choice::kSourceOption, kSecondHz},
                      SourceCase{"PulseSourceVariable", Choice::kEnvironment, kSecondHz},
                      SourceCase{"MovedWhileRecording", Choice::kMovedWhileRecording, kSecondHz},
                      SourceCase{"DefaultChangedWhileRecording", Choice::kDefaultChanged,
                                 kSecondHz}),
    [](const ::testing::TestParamInfo<SourceCase>& info) { return info.param.name; });

// A named source that goes away is waited for, not swapped for the default:
// once it is back, its tone is measured, and the default's is not.
TEST_F(RecordFromSource, ANamedSourceThatGoesAwayIsWaitedForAndNotSwapped) {
    testing::WriteFile(dir_ / "second.wav", testing::FadedToneWav(kSecondHz));
    testing::WriteFile(dir_ / "default.wav", testing::FadedToneWav(kDefaultHz));
    Child tool({HARMOLUNE_MEASURE_TOOL, "--key", "9", "--octave", "4", "--record", "56", "--source",
                kSecondSource},
               dir_ / "tool.out", dir_ / "tool.err");
    std::this_thread::sleep_for(600ms);
    Pactl({"unload-module", module_});
    module_.clear();
    // The default plays while the named source is gone.
    Child early({"paplay", (dir_ / "default.wav").string()}, dir_ / "early.out",
                dir_ / "early.err");
    std::this_thread::sleep_for(500ms);
    module_ = Pactl({"load-module", "module-null-sink", std::string("sink_name=") + kSecondSink,
                     "channels=1", "channel_map=mono"});
    std::this_thread::sleep_for(500ms);
    Child second({"paplay", std::string("--device=") + kSecondSink, (dir_ / "second.wav").string()},
                 dir_ / "second.out", dir_ / "second.err");
    ASSERT_EQ(second.Wait(), 0) << ReadFile(dir_ / "second.err");
    ASSERT_EQ(early.Wait(), 0) << ReadFile(dir_ / "early.err");
    ASSERT_EQ(tool.Wait(), 0) << ReadFile(dir_ / "tool.err");

    EXPECT_EQ(ReadFile(dir_ / "tool.err"),
              "harmolune-measure: son perdu : le serveur audio ou le périphérique d'entrée a "
              "disparu\n"
              "harmolune-measure: son rétabli\n");
    const std::string out = ReadFile(dir_ / "tool.out");
    EXPECT_NEAR(Result(out), kSecondHz, 0.5) << out;
}

// The same names, in the same order, as `pactl list short sources`, and the
// one `pactl get-default-source` names marked.
TEST_F(RecordFromSource, ListSourcesListsWhatTheServerHas) {
    Child tool({HARMOLUNE_MEASURE_TOOL, "--list-sources"}, dir_ / "tool.out", dir_ / "tool.err");
    ASSERT_EQ(tool.Wait(), 0) << ReadFile(dir_ / "tool.err");
    const std::string defaultSource = Pactl({"get-default-source"});
    std::string expected = "source\tdefault\tdescription\n";
    std::istringstream sources(Pactl({"list", "short", "sources"}));
    for (std::string line; std::getline(sources, line);) {
        // index, name, driver, sample format, state
        std::istringstream fields(line);
        std::string index;
        std::string name;
        std::getline(fields, index, '\t');
        std::getline(fields, name, '\t');
        expected += name + '\t' + (name == defaultSource ? "yes" : "no") + '\t';
        expected += name == kSecondSource ? "Monitor of Harmolune_second\n" : "";
    }
    const std::string out = ReadFile(dir_ / "tool.out");
    // The descriptions of the server's own sources are its business; the
    // second sink's is the one given here.
    std::string withoutOthers;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const bool second = line.starts_with(std::string(kSecondSource) + '\t');
        withoutOthers += second || line.starts_with("source\t")
                             ? line + '\n'
                             : line.substr(0, line.rfind('\t') + 1);
    }
    EXPECT_EQ(withoutOthers, expected) << out;
    EXPECT_EQ(ReadFile(dir_ / "tool.err"), "");
}

}  // namespace
}  // namespace harmolune
