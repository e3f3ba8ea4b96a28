// harmolune-measure end to end: arguments, the output lines, and a recording
// synthesised here measured as the window would measure it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/MeasureTool.h"
#include "testing/StiffString.h"
#include "testing/WavFiles.h"

namespace harmolune {
namespace {

using testing::TempDir;
using testing::WavBytes;
using testing::WavLayout;
using testing::WriteFile;

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

ToolRun Measure(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = MeasureMain(args, out, err);
    return {status, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, '\t');) {
        fields.push_back(f);
    }
    return fields;
}

// A struck note: `loud` blocks of a sine at frequencyHz and level 60, then
// `quiet` blocks at level 10.
std::vector<std::uint8_t> Struck(double frequencyHz, int loud, int quiet) {
    std::vector<std::uint8_t> samples;
    const int total = (loud + quiet) * 4096;
    for (int t = 0; t < total; ++t) {
        const double amplitude = t < loud * 4096 ? 60.0 : 10.0;
        samples.push_back(static_cast<std::uint8_t>(
            128 + std::lround(amplitude * std::sin(2 * M_PI * frequencyHz * t / 32768.0))));
    }
    return samples;
}

// Each bad argument gets its own reason, in French, then the usage.
TEST(MeasureTool, BadArgumentsGiveTheirReasonTheUsageAndStatusTwo) {
    struct Case {
        std::vector<std::string> args;
        std::string reason;
    };
    const std::string chooseNote = "choisissez une note : --key avec --octave, ou --string";
    const std::string oneRecording = "donnez un enregistrement, ou --record N";
    const std::vector<Case> cases = {
        {{}, chooseNote},
        {{"x.wav"}, chooseNote},
        {{"--key", "9", "x.wav"}, chooseNote},
        {{"--key", "12", "--octave", "4", "x.wav"}, "--key doit être compris entre 0 et 11"},
        {{"--key", "9", "--octave", "9", "x.wav"}, "--octave doit être compris entre -1 et 8"},
        {{"--key", "9", "--octave", "four", "x.wav"},
         "--octave attend un nombre entier, pas « four »"},
        {{"--string", "5", "x.wav"}, "--string doit valoir 4, 9, 14, 19, 23 ou 28"},
        {{"--string", "4", "--key", "1", "--octave", "1", "x.wav"},
         "choisissez une touche (--key, --octave) ou une corde (--string), pas les deux"},
        {{"--string", "4"}, oneRecording},
        {{"--string", "4", "a.wav", "b.wav"}, "un seul fichier peut être mesuré à la fois"},
        {{"--string", "4", "--record", "0"}, "--record attend au moins 1 bloc"},
        {{"--string", "4", "--record", "3", "a.wav"}, oneRecording},
        {{"--string", "4", "--bogus", "a.wav"}, "option inconnue : --bogus"},
        {{"--string", "4", "-x", "a.wav"}, "option inconnue : -x"},
        {{"--key"}, "--key attend une valeur"},
    };
    for (const Case& c : cases) {
        const ToolRun r = Measure(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "harmolune-measure: " + c.reason);
        EXPECT_NE(r.err.find("\n\nUtilisation : harmolune-measure"), std::string::npos);
    }
}

TEST(MeasureTool, HelpAndVersionGoToStandardOutputWithStatusZero) {
    const std::vector<std::vector<std::string>> asks = {
        {"--help"}, {"-h"}, {"--key", "9", "--help"}, {"--string", "5", "-h", "x.wav"}};
    for (const auto& args : asks) {
        const ToolRun r = Measure(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out, kMeasureUsage);
        EXPECT_EQ(r.err, "");
    }
    const ToolRun r = Measure({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "harmolune-measure " HARMOLUNE_PROJECT_VERSION "\n");
    EXPECT_EQ(r.err, "");
}

TEST(MeasureTool, ADataChunkCutShortIsMeasuredWithAWarning) {
    TempDir dir;
    WavLayout layout;
    layout.samples = Struck(441.3, 3, 1);
    layout.samples.resize(layout.samples.size() + 100, 128);
    layout.declaredData = 6 * std::int64_t{4096};  // as a recorder that was stopped leaves it
    WriteFile(dir / "cut.wav", WavBytes(layout));
    const std::string path = (dir / "cut.wav").string();
    const ToolRun r = Measure({"--key", "9", "--octave", "4", path});
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2U + 4U + 3U);
    EXPECT_NEAR(std::stod(lines[lines.size() - 3].substr(7)), 441.3, 0.1) << r.out;
    EXPECT_EQ(r.err, "harmolune-measure: " + path +
                         " : attention : le segment de données annonce 24576 octets, mais seuls "
                         "16484 suivent ; les 4 blocs complets présents ont été mesurés\n");
}

// The built tool from a shell: what a user types.
struct ShellRun {
    int status;
    std::string out;
    std::string err;
};

ShellRun Shell(const TempDir& dir, const std::string& command) {
    const std::string out = (dir / "stdout").string();
    const std::string err = (dir / "stderr").string();
    const int status = std::system(("(" + command + ") >" + out + " 2>" + err).c_str());
    std::ifstream o(out);
    std::ifstream e(err);
    std::ostringstream os;
    std::ostringstream es;
    os << o.rdbuf();
    es << e.rdbuf();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, os.str(), es.str()};
}

TEST(MeasureTool, ReadsAPipeAndSaysWhenItsOutputCannotBeWritten) {
    TempDir dir;
    WavLayout layout;
    layout.samples = Struck(441.3, 40, 1);  // more than a pipe holds at once
    WriteFile(dir / "a4.wav", WavBytes(layout));
    const std::string tool = HARMOLUNE_MEASURE_TOOL;
    const std::string wav = (dir / "a4.wav").string();
    const std::string args = " --key 9 --octave 4 ";

    const ShellRun fromFile = Shell(dir, tool + args + wav);
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    const ShellRun piped = Shell(dir, "cat " + wav + " | " + tool + args + "-");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, fromFile.out);
    EXPECT_EQ(piped.err, "");

    const ShellRun full = Shell(dir, tool + args + wav + " >/dev/full");
    EXPECT_EQ(full.status, 2);
    EXPECT_EQ(full.err, "harmolune-measure: impossible d'écrire la sortie : " +
                            std::string(std::strerror(ENOSPC)) + "\n");
    const ShellRun helpFull = Shell(dir, tool + " --help >/dev/full");
    EXPECT_EQ(helpFull.status, 2);
    EXPECT_EQ(std::count(helpFull.err.begin(), helpFull.err.end(), '\n'), 1) << helpFull.err;
}

// Standard input is read once, front to back: only the 8-bit WAV the window
// records comes through it, and anything else is refused with the reason
// and where to give it instead.
TEST(MeasureTool, StandardInputRefusesOtherRecordingsWithTheReason) {
    TempDir dir;
    WavLayout stereo;
    stereo.channels = 2;
    stereo.samples.assign(8192, 128);
    WriteFile(dir / "stereo.wav", WavBytes(stereo));
    const ShellRun r = Shell(dir, "cat " + (dir / "stereo.wav").string() + " | " +
                                      HARMOLUNE_MEASURE_TOOL + " --string 9 -");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(r.err,
              "harmolune-measure: entrée standard : 8 bits, 2 canaux, 32768 Hz ; il faut du "
              "PCM mono non signé de 8 bits à 32768 Hz (l'entrée standard et les tubes "
              "n'acceptent que du WAV mono non signé de 8 bits à 32768 Hz ; donnez les autres "
              "enregistrements sous forme de fichier)\n");
}

TEST(MeasureTool, MeasuresAStruckA4) {
    TempDir dir;
    WavLayout layout;
    layout.samples = Struck(441.3, 6, 2);
    layout.samples.resize(layout.samples.size() + 100, 128);  // a partial block, ignored
    WriteFile(dir / "a4.wav", WavBytes(layout));
    const ToolRun r = Measure({"--key", "9", "--octave", "4", (dir / "a4.wav").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2U + 8U + 3U);
    EXPECT_EQ(lines[0], "note\tLa\t4\t440.00Hz");
    EXPECT_EQ(lines[1], "block\tlevel\tfirst\tlast\tpeak\testimate\tstate");
    const std::vector<std::string> first = Fields(lines[2]);
    ASSERT_EQ(first.size(), 7U);
    EXPECT_EQ(first[0], "0");
    EXPECT_EQ(first[1], "60");
    EXPECT_EQ(first[2], "50");
    EXPECT_EQ(first[3], "61");
    EXPECT_EQ(first[4], "55");
    EXPECT_EQ(first[5].size(), first[5].find('.') + 7) << "six decimals: " << first[5];
    EXPECT_NEAR(std::stod(first[5]), 441.3, 0.5);
    EXPECT_EQ(first[6], "2");
    EXPECT_EQ(Fields(lines[7])[6], "7");   // six accepted blocks
    EXPECT_EQ(Fields(lines[8])[6], "-1");  // the first quiet block ends it
    const std::string& result = lines[lines.size() - 3];
    ASSERT_EQ(result.substr(0, 7), "result\t");
    ASSERT_EQ(result.substr(result.size() - 3), " Hz");
    EXPECT_NEAR(std::stod(result.substr(7)), 441.3, 0.1);
    // A second of sound holds no settled part to measure finely.
    EXPECT_EQ(lines[lines.size() - 2], "fine\t-");
    EXPECT_EQ(lines.back(), "partials\t-");
}

TEST(MeasureTool, TheFineLineFollowsTheResult) {
    // Low E a little sharp, struck and left to ring for 4 s.
    const double f = 82.5;
    TempDir dir;
    WavLayout layout;
    for (int t = 0; t < 5 * 32768; ++t) {
        const double s = t / 32768.0 - 0.2;
        const double x = s < 0.0 ? 0.0 : 85.0 * std::exp(-s / 1.5) * std::sin(2 * M_PI * f * s);
        // A dither of a third of a step, as a microphone's noise gives.
        const double dither = ((t * 7919) % 97) / 97.0 - 0.5;
        layout.samples.push_back(static_cast<std::uint8_t>(128 + std::lround(x + 0.6 * dither)));
    }
    WriteFile(dir / "e2.wav", WavBytes(layout));
    const ToolRun r = Measure({"--string", "4", (dir / "e2.wav").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_GE(lines.size(), 3U);
    EXPECT_EQ(lines[lines.size() - 3].substr(0, 7), "result\t");
    const std::vector<std::string> fine = Fields(lines[lines.size() - 2]);
    ASSERT_EQ(fine.size(), 5U) << lines[lines.size() - 2];
    EXPECT_EQ(lines.back(), "partials\t-");  // a guitar string
    EXPECT_EQ(fine[0], "fine");
    EXPECT_EQ(fine[1].size(), fine[1].find('.') + 5) << "four decimals: " << fine[1];
    EXPECT_NEAR(std::stod(fine[1]), f, 0.0005);
    // 82.5 Hz against 82.4069 Hz: +1.955 cents.
    EXPECT_EQ(fine[2].substr(0, 4), "+1.9");
    EXPECT_EQ(fine[2].size(), 5U);
    EXPECT_EQ(fine[3].size(), fine[3].find('.') + 3);
    EXPECT_GT(std::stod(fine[4]), 1.0);
}

TEST(MeasureTool, ThePartialsLineGivesTheStiffStringsInharmonicity) {
    // La 2, one string with B = 2.5e-4, its fundamental at 110.2 Hz.
    testing::StiffStringTone tone;
    tone.midiNote = 45;
    tone.fundamentalHz = 110.2;
    tone.inharmonicity = 2.5e-4;
    tone.seed = 4;
    const testing::StiffStringSound sound = testing::SynthesiseStiffString(tone);
    TempDir dir;
    WavLayout layout;
    layout.samples = sound.samples;
    WriteFile(dir / "a2.wav", WavBytes(layout));
    const ToolRun r = Measure({"--key", "9", "--octave", "2", (dir / "a2.wav").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_GE(lines.size(), 4U);
    EXPECT_EQ(lines[lines.size() - 2].substr(0, 5), "fine\t");
    const std::vector<std::string> partials = Fields(lines.back());
    ASSERT_EQ(partials.size(), 3U) << lines.back();
    EXPECT_EQ(partials[0], "partials");
    // Three significant digits and a two-digit exponent: 2.50e-04.
    ASSERT_EQ(partials[1].size(), 8U) << partials[1];
    EXPECT_EQ(partials[1].substr(4, 2), "e-");
    EXPECT_NEAR(std::stod(partials[1]), 2.5e-4, 0.05 * 2.5e-4);
    // Each partial where the stiff string puts it, with 3 decimals.
    const double f0 = 110.2 / std::sqrt(1.0 + 2.5e-4);
    std::istringstream list(partials[2]);
    int count = 0;
    for (std::string item; std::getline(list, item, ' '); ++count) {
        const std::size_t colon = item.find(':');
        ASSERT_NE(colon, std::string::npos) << item;
        const int n = std::stoi(item.substr(0, colon));
        const std::string hz = item.substr(colon + 1);
        EXPECT_EQ(hz.size(), hz.find('.') + 4) << item;
        const double expected = n * f0 * std::sqrt(1.0 + 2.5e-4 * n * n);
        EXPECT_NEAR(std::stod(hz), expected, 1e-4 * expected) << item;
    }
    EXPECT_GE(count, 8);
}

TEST(MeasureTool, AGuitarStringAndAMeasurementThatNeverEnds) {
    TempDir dir;
    WavLayout layout;
    layout.samples = Struck(247.5, 3, 0);  // no quiet block: still open
    WriteFile(dir / "b3.wav", WavBytes(layout));
    const ToolRun r = Measure({"--string", "23", (dir / "b3.wav").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    EXPECT_EQ(lines.front(), "note\tSi\t3\t246.94Hz");
    EXPECT_EQ(lines[lines.size() - 3], "result\t...Hz");
    EXPECT_EQ(lines[lines.size() - 2], "fine\t-");
    EXPECT_EQ(lines.back(), "partials\t-");
}

TEST(MeasureTool, SilentBlocksHaveNoEstimate) {
    TempDir dir;
    WavLayout layout;
    layout.samples.assign(4096, 128);
    WriteFile(dir / "silence.wav", WavBytes(layout));
    const ToolRun r = Measure({"--key", "0", "--octave", "4", (dir / "silence.wav").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 6U);
    EXPECT_EQ(lines[2], "0\t0\t29\t36\t29\t-\t0");
    EXPECT_EQ(lines[4], "fine\t-");
    EXPECT_EQ(lines[5], "partials\t-");
}

}  // namespace
}  // namespace harmolune

namespace harmolune {
namespace {

TEST(MeasureTool, LiveLinesFollowTheBlocksThatChangedTheReadingAndEndFinal) {
    // La 4, one string at 441 Hz (+3.93 c), struck 0.4 s in and stopped at 2 s.
    testing::StiffStringTone tone;
    tone.midiNote = 69;
    tone.fundamentalHz = 441.0;
    tone.leadSeconds = 0.4;
    tone.seconds = 2.0;
    tone.seed = 9;
    const testing::StiffStringSound sound = testing::SynthesiseStiffString(tone);
    TempDir dir;
    WavLayout layout;
    layout.samples = sound.samples;
    layout.samples.resize(layout.samples.size() + 32768, 128);
    WriteFile(dir / "a4.wav", WavBytes(layout));
    const std::string wav = (dir / "a4.wav").string();
    const ToolRun plain = Measure({"--key", "9", "--octave", "4", wav});
    const ToolRun live = Measure({"--key", "9", "--octave", "4", "--live", wav});
    ASSERT_EQ(live.status, 0) << live.err;

    // Take the live lines out, and what is left is the output without --live.
    std::string rest;
    std::vector<std::vector<std::string>> lives;
    long long lastRow = -1;
    for (const std::string& line : Lines(live.out)) {
        if (line.rfind("live\t", 0) == 0) {
            const std::vector<std::string> f = Fields(line);
            ASSERT_EQ(f.size(), 6U) << line;
            // Right after its own block's row.
            EXPECT_EQ(std::stoll(f[1]), lastRow) << line;
            lives.push_back(f);
            continue;
        }
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            lastRow = std::stoll(line);
        }
        rest += line + '\n';
    }
    EXPECT_EQ(rest, plain.out);
    ASSERT_GE(lives.size(), 5U);
    // The strike lies in block 3 (0.4 s): the first reading comes with block 4.
    EXPECT_EQ(lives.front()[1], "4");
    for (const std::vector<std::string>& f : lives) {
        EXPECT_EQ(f[2].size(), f[2].find('.') + 5) << "four decimals: " << f[2];
        EXPECT_TRUE(f[3][0] == '+' || f[3][0] == '-') << f[3];
        EXPECT_EQ(f[3].size(), f[3].find('.') + 3) << f[3];
        EXPECT_EQ(f[4].size(), f[4].find('.') + 3) << f[4];
    }
    EXPECT_EQ(lives.front()[5], "en-cours");
    EXPECT_EQ(lives.back()[5], "final");
    EXPECT_NE(
        std::find_if(lives.begin(), lives.end(), [](const auto& f) { return f[5] == "stable"; }),
        lives.end());
    // The final reading is the fine measurement's, 441 Hz to a hundredth of a cent.
    EXPECT_NEAR(std::stod(lives.back()[2]), sound.truthHz, 0.005);
    EXPECT_NEAR(std::stod(lives.back()[3]), 1200.0 * std::log2(sound.truthHz / 440.0), 0.015);
}

}  // namespace
}  // namespace harmolune
