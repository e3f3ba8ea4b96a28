// harmolune-measure --record with a feeding fake in place of the sound input:
// the same lines as for a file, the input's own error text when it cannot
// start, and a clear end instead of a hang when the blocks stop coming.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/MeasureTool.h"
#include "sound/BlockRing.h"
#include "sound/CaptureDevice.h"

namespace harmolune {
namespace {

// Pushes its blocks into the ring at Start, as a sound input would over time.
class FeedingCapture final : public CaptureDevice {
  public:
    explicit FeedingCapture(std::vector<Block> blocks, std::string failure = "")
        : blocks_(std::move(blocks)), failure_(std::move(failure)) {}
    bool Start(BlockRing& ring, std::string& error) override {
        ++starts;
        if (!failure_.empty()) {
            error = failure_;
            return false;
        }
        for (const Block& b : blocks_) {
            ring.Push(b.data(), b.size());
        }
        return true;
    }
    void Stop() override { ++stops; }
    int starts = 0;
    int stops = 0;

  private:
    std::vector<Block> blocks_;
    std::string failure_;
};

Block Sine(double frequencyHz, double level) {
    Block block;
    for (int t = 0; t < kFrameLength; ++t) {
        block[t] = static_cast<std::uint8_t>(
            128 + std::lround(level * std::sin(2 * M_PI * frequencyHz * t / kSampleRate)));
    }
    return block;
}

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

// The tool with recorder as its sound input; the source it was asked for
// goes to *source.
ToolRun Measure(const std::vector<std::string>& args, CaptureDevice* recorder,
                std::string* source = nullptr) {
    std::ostringstream out;
    std::ostringstream err;
    SoundInput input;
    if (recorder != nullptr) {
        input.capture = [recorder, source](const std::string& name) {
            if (source != nullptr) {
                *source = name;
            }
            return recorder;
        };
    }
    const int status = MeasureMain(args, out, err, input);
    return {status, out.str(), err.str()};
}

TEST(MeasureRecord, MeasuresTheBlocksOfTheInputLikeAFile) {
    // Silence, four blocks of a 441.3 Hz tone at level 60, then a quiet one:
    // six blocks asked for, one left over.
    const Block silence = Sine(441.3, 0);
    const Block loud = Sine(441.3, 60);
    const Block quiet = Sine(441.3, 10);
    FeedingCapture input({silence, loud, loud, loud, loud, quiet, loud});
    const ToolRun r = Measure({"--key", "9", "--octave", "4", "--record", "6"}, &input);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(input.starts, 1);
    EXPECT_EQ(input.stops, 1);
    std::istringstream lines(r.out);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) {
        all.push_back(line);
    }
    ASSERT_EQ(all.size(), 2U + 6U + 3U) << r.out;
    EXPECT_EQ(all[0], "note\tLa\t4\t440.00Hz");
    EXPECT_EQ(all[2].substr(0, 4), "0\t0\t");
    const std::string& result = all[all.size() - 3];
    ASSERT_EQ(result.substr(0, 7), "result\t") << result;
    EXPECT_NEAR(std::stod(result.substr(7)), 441.3, 0.1);
    EXPECT_EQ(all[all.size() - 2], "fine\t-");  // half a second holds no settled sound
    EXPECT_EQ(all.back(), "partials\t-");
}

TEST(MeasureRecord, AnInputThatCannotStartIsNamedWithItsOwnText) {
    FeedingCapture input({}, "Device unavailable");
    const ToolRun r = Measure({"--string", "4", "--record", "3"}, &input);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "harmolune-measure: impossible d'enregistrer depuis l'entrée par défaut : Device "
              "unavailable\n");
}

TEST(MeasureRecord, BlocksThatStopComingEndTheRunInsteadOfHangingIt) {
    FeedingCapture input({Sine(82.4, 0), Sine(82.4, 0)});
    const ToolRun r = Measure({"--string", "4", "--record", "5"}, &input);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(input.stops, 1);
    EXPECT_NE(r.out.find("\nresult\t...Hz\nfine\t-\npartials\t-\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err,
              "harmolune-measure: aucun son n'est venu de l'entrée par défaut pendant 5 s ; 2 "
              "blocs sur 5 mesurés\n");
}

TEST(MeasureRecord, TheNamedSourceIsAskedForAndNamedWhenItFails) {
    FeedingCapture input({Sine(441.3, 60)});
    std::string asked = "unset";
    ToolRun r = Measure({"--key", "9", "--octave", "4", "--record", "1"}, &input, &asked);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(asked, "");
    r = Measure({"--record", "1", "--source", "usb_mic", "--key", "9", "--octave", "4"}, &input,
                &asked);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(asked, "usb_mic");

    FeedingCapture missing({}, "No such entity");
    r = Measure({"--string", "4", "--record", "3", "--source", "usb_mic"}, &missing);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "harmolune-measure: impossible d'enregistrer depuis la source usb_mic "
              "(--list-sources les liste) : No such entity\n");
}

TEST(MeasureRecord, SourceAndListSourcesAreRefusedWhereTheyMeanNothing) {
    FeedingCapture input({});
    const std::vector<std::vector<std::string>> bad = {
        {"--string", "4", "--source", "usb_mic", "a.wav"},
        {"--string", "4", "--record", "3", "--source"},
        {"--string", "4", "--record", "3", "--source", ""},
        {"--list-sources", "--string", "4"},
        {"--list-sources", "a.wav"},
    };
    for (const auto& args : bad) {
        const ToolRun r = Measure(args, &input);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Utilisation : harmolune-measure"), std::string::npos);
    }
    EXPECT_EQ(input.starts, 0);
}

ToolRun ListSources(const std::function<bool(std::vector<SoundSource>&, std::string&)>& list) {
    std::ostringstream out;
    std::ostringstream err;
    SoundInput input;
    input.listSources = list;
    const int status = MeasureMain({"--list-sources"}, out, err, input);
    return {status, out.str(), err.str()};
}

TEST(MeasureRecord, ListSourcesPrintsOneLinePerSourceWithTheDefaultMarked) {
    const ToolRun r = ListSources([](std::vector<SoundSource>& sources, std::string&) {
        sources = {{"alsa_input.usb", "USB Microphone\tMono", false},
                   {"alsa_input.pci", "Built-in Audio", true}};
        return true;
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "source\tdefault\tdescription\n"
              "alsa_input.usb\tno\tUSB Microphone Mono\n"
              "alsa_input.pci\tyes\tBuilt-in Audio\n");
    EXPECT_EQ(r.err, "");

    const ToolRun failed = ListSources([](std::vector<SoundSource>&, std::string& error) {
        error = "Connection refused";
        return false;
    });
    EXPECT_EQ(failed.status, 2);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err,
              "harmolune-measure: impossible de lister les sources : Connection refused\n");
    EXPECT_EQ(ListSources({}).status, 2);
}

TEST(MeasureRecord, WithoutARecorderRecordingIsRefused) {
    const ToolRun r = Measure({"--string", "4", "--record", "3"}, nullptr);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "harmolune-measure: l'enregistrement n'est pas disponible : ce programme a "
              "été construit sans le son\n");
}

}  // namespace
}  // namespace harmolune
