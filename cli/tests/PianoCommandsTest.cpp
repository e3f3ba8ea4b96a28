// harmolune-measure's piano commands: a key's reading into a record
// (--piano), and the record's tuning curve out (--curve, --csv, --scala),
// with real files in a temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/MeasureTool.h"
#include "cli/PianoCommands.h"
#include "testing/StiffString.h"
#include "testing/WavFiles.h"
#include "tuning/PianoRecord.h"

namespace harmolune {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

ToolRun Tool(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = MeasureMain(args, out, err);
    return {status, out.str(), err.str()};
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == separator && separator != '\n') {
        parts.emplace_back();
    }
    return parts;
}

// The eight A's and C1 of a grand, B on its usual curve, each a little off
// its target, as --piano would have written them; A6 and A7 without B.
std::string EightAsRecord(const std::string& style = "Standard") {
    std::string keys;
    for (const int k : {21, 24, 33, 45, 57, 69, 81, 93, 105}) {
        const double B = testing::TypicalInharmonicity(k);
        const double f1 = 440.0 * std::exp2((k - 69) / 12.0 + (k - 69) * 0.05 / 1200.0);
        std::ostringstream entry;
        entry.precision(17);
        entry << (keys.empty() ? "" : ",\n") << "{\"midi\": " << k << ", \"f1Hz\": " << f1
              << ", \"uncertaintyCents\": 0.3";
        if (k <= 89) {
            const double f0 = f1 / std::sqrt(1.0 + B);
            entry << ", \"inharmonicity\": " << B << ", \"partials\": [";
            for (int n = 2; n <= 6; ++n) {
                entry << (n > 2 ? ", " : "") << "{\"n\": " << n
                      << ", \"hz\": " << n * f0 * std::sqrt(1.0 + B * n * n) << "}";
            }
            entry << "]";
        }
        entry << ", \"seconds\": 2, \"measuredAt\": \"2026-12-09T10:00:00Z\"}";
        keys += entry.str();
    }
    return "{\"version\": 1, \"style\": \"" + style + "\", \"keys\": [\n" + keys + "]}\n";
}

// Significant digits of a decimal number, leading zeros and sign left out.
int SignificantDigits(const std::string& number) {
    const std::size_t first = number.find_first_of("123456789");
    if (first == std::string::npos) {
        return static_cast<int>(number.size()) - (number.find('.') != std::string::npos ? 1 : 0);
    }
    int digits = 0;
    for (std::size_t i = first; i < number.size(); ++i) {
        digits += std::isdigit(static_cast<unsigned char>(number[i])) ? 1 : 0;
    }
    return digits;
}

TEST(PianoCommands, TheCurveIsOneLinePerKeyBetweenTheStyleAndTheFit) {
    TempDir dir;
    WriteFile(dir / "piano.json", EightAsRecord("Douzièmes pures"));
    const ToolRun r = Tool({"--curve", dir.File("piano.json")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Split(r.out, '\n');
    ASSERT_EQ(lines.size(), 1U + 88U + 1U);
    EXPECT_EQ(lines.front(), "style\tDouzièmes pures");
    const std::regex hz(R"(\d+\.\d{4})");
    const std::regex cents(R"([+-]\d+\.\d{2})");
    const std::regex unsignedCents(R"(\d+\.\d{2})");
    const std::regex b(R"(\d\.\d{2}e-0\d)");
    for (int k = 21; k <= 108; ++k) {
        const std::vector<std::string> f = Split(lines[k - 20], '\t');
        ASSERT_EQ(f.size(), 9U) << lines[k - 20];
        EXPECT_EQ(f[0], "curve");
        EXPECT_EQ(f[1], std::to_string(k));
        EXPECT_TRUE(std::regex_match(f[3], hz)) << f[3];
        EXPECT_TRUE(std::regex_match(f[4], cents)) << f[4];
        EXPECT_TRUE(std::regex_match(f[5], unsignedCents)) << f[5];
        EXPECT_TRUE(std::regex_match(f[6], b)) << f[6];
        // The target in hertz is the key's equal-tempered frequency moved by
        // the target in cents.
        const double expected = 440.0 * std::exp2((k - 69) / 12.0 + std::stod(f[4]) / 1200.0);
        EXPECT_NEAR(std::stod(f[3]), expected, expected * 0.006 / 1200.0 + 5e-5) << k;
        const bool measured = k == 21 || k == 24 || (k - 33) % 12 == 0;
        if (measured) {
            ASSERT_TRUE(std::regex_match(f[7], hz)) << f[7];
            ASSERT_TRUE(std::regex_match(f[8], cents)) << f[8];
            const double deviation = 1200.0 * std::log2(std::stod(f[7]) / std::stod(f[3]));
            EXPECT_NEAR(std::stod(f[8]), deviation, 0.006 + 1200.0 / std::log(2.0) * 1e-4 / 27.0);
        } else {
            EXPECT_EQ(f[7], "-");
            EXPECT_EQ(f[8], "-");
        }
    }
    EXPECT_EQ(Split(lines[69 - 20], '\t')[2], "La 4");
    EXPECT_EQ(Split(lines[69 - 20], '\t')[4], "+0.00");
    EXPECT_EQ(Split(lines[69 - 20], '\t')[3], "440.0000");
    EXPECT_EQ(Split(lines[39 - 20], '\t')[2], "Mib 2");
    EXPECT_EQ(Split(lines[108 - 20], '\t')[2], "Do 8");
    // The break of the B fit, then ln B's slope and intercept below and above it.
    const std::vector<std::string> fit = Split(lines.back(), '\t');
    ASSERT_EQ(fit.size(), 6U) << lines.back();
    EXPECT_EQ(fit[0], "fit");
    const int breakKey = std::stoi(fit[1]);
    EXPECT_GT(breakKey, 33);
    EXPECT_LE(breakKey, 57);
    EXPECT_LT(std::stod(fit[2]), 0.0);  // B falls through the wound strings
    EXPECT_GT(std::stod(fit[4]), 0.0);  // and rises through the plain ones
    EXPECT_NEAR(std::stod(fit[4]) * 69 + std::stod(fit[5]),
                std::log(testing::TypicalInharmonicity(69)), 0.01);
    // A fitted curve with a wide gap at the break asks for keys inside it.
    EXPECT_NE(r.err.find("de part et d'autre de la fin des cordes filées"), std::string::npos)
        << r.err;

    const ToolRun standard = Tool({"--curve", dir.File("piano.json"), "--style", "Standard"});
    ASSERT_EQ(standard.status, 0);
    EXPECT_EQ(Split(standard.out, '\n').front(), "style\tStandard");
    EXPECT_NE(standard.out, r.out);
}

TEST(PianoCommands, TheCsvIsTheSameTableWithNineDigitsAndMore) {
    TempDir dir;
    WriteFile(dir / "piano.json", EightAsRecord());
    const ToolRun table = Tool({"--curve", dir.File("piano.json")});
    const ToolRun csv = Tool({"--curve", dir.File("piano.json"), "--csv"});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::vector<std::string> rows = Split(csv.out, '\n');
    const std::vector<std::string> lines = Split(table.out, '\n');
    ASSERT_EQ(rows.size(), 89U);
    EXPECT_EQ(rows[0],
              "midi,name,target_hz,target_cents,uncertainty_cents,inharmonicity,measured_hz,"
              "deviation_cents");
    for (int k = 21; k <= 108; ++k) {
        const std::vector<std::string> c = Split(rows[k - 20], ',');
        const std::vector<std::string> t = Split(lines[k - 20], '\t');
        ASSERT_EQ(c.size(), 8U) << rows[k - 20];
        EXPECT_EQ(c[0], t[1]);
        EXPECT_EQ(c[1], t[2]);
        for (const int i : {2, 3, 4, 5}) {
            EXPECT_GE(SignificantDigits(c[i]), 9) << c[i];
            EXPECT_NEAR(std::stod(c[i]), std::stod(t[i + 1]),
                        i == 5 ? 0.006 * std::stod(t[6]) : 0.0051)
                << k << " field " << i;
        }
        if (t[7] == "-") {
            EXPECT_EQ(c[6], "");
            EXPECT_EQ(c[7], "");
        } else {
            EXPECT_GE(SignificantDigits(c[6]), 9) << c[6];
            EXPECT_NEAR(std::stod(c[6]), std::stod(t[7]), 5e-5);
            EXPECT_NEAR(std::stod(c[7]), std::stod(t[8]), 0.0051);
        }
    }
}

// A synthesiser that reads both files plays each key at its target: key k
// sounds at the reference's frequency times 2^((scale(k) − scale(69))/1200).
TEST(PianoCommands, TheScalaFilesPlayTheTargets) {
    TempDir dir;
    WriteFile(dir / "piano.json", EightAsRecord());
    const std::string prefix = (dir / "grand").string();
    const ToolRun csv = Tool({"--curve", dir.File("piano.json"), "--csv", "--scala", prefix});
    ASSERT_EQ(csv.status, 0) << csv.err;
    const std::vector<std::string> rows = Split(csv.out, '\n');

    const std::vector<std::string> scl = Split(ReadFile(prefix + ".scl"), '\n');
    std::vector<std::string> values;
    for (const std::string& line : scl) {
        if (!line.empty() && line[0] != '!') {
            values.push_back(line);
        }
    }
    ASSERT_EQ(values.size(), 2U + 87U);
    EXPECT_NE(values[0].find("Standard"), std::string::npos) << values[0];
    EXPECT_EQ(values[1], " 87");
    std::vector<double> scale = {0.0};
    for (std::size_t i = 2; i < values.size(); ++i) {
        ASSERT_NE(values[i].find('.'), std::string::npos) << "cents need a point: " << values[i];
        scale.push_back(std::stod(values[i]));
        EXPECT_GT(scale.back(), scale[scale.size() - 2]);
    }
    // Not a scale that repeats at the octave: its period is A0 to C8.
    EXPECT_GT(scale.back(), 8699.0);

    std::vector<std::string> kbm;
    for (const std::string& line : Split(ReadFile(prefix + ".kbm"), '\n')) {
        if (!line.empty() && line[0] != '!') {
            kbm.push_back(line);
        }
    }
    ASSERT_EQ(kbm.size(), 7U + 87U);
    EXPECT_EQ(kbm[0], "87");   // size of the map
    EXPECT_EQ(kbm[1], "21");   // first key retuned
    EXPECT_EQ(kbm[2], "108");  // last key retuned
    EXPECT_EQ(kbm[3], "21");   // the key of degree 0
    EXPECT_EQ(kbm[4], "69");   // reference key
    EXPECT_EQ(kbm[6], "87");   // degree of the period
    const double referenceHz = std::stod(kbm[5]);
    for (int k = 21; k <= 108; ++k) {
        // Degrees 0 to 86 from the map, then C8 one period up.
        const int degree = k == 108 ? 87 : std::stoi(kbm[7 + (k - 21)]);
        const double hz = referenceHz * std::exp2((scale[degree] - scale[48]) / 1200.0);
        const double target = std::stod(Split(rows[k - 20], ',')[2]);
        EXPECT_NEAR(hz, target, target * 1e-8) << k;
    }
}

TEST(PianoCommands, AStyleNamedInTheUsageIsEveryStyle) {
    for (const tuning::Style& style : tuning::Styles()) {
        EXPECT_NE(std::string(kMeasureUsage).find(style.name), std::string::npos) << style.name;
    }
}

struct BadCase {
    // cppcheck-suppress unusedStructMember ; the test\'s name, read by the name generator
    const char* name;
    std::vector<std::string> args;
    std::string line;  // after the tag
    bool usage;
};

class PianoRefused : public ::testing::TestWithParam<BadCase> {};

// One French line, status 2, nothing on standard output; the usage follows
// a bad argument.
TEST_P(PianoRefused, WithOneLineAndStatusTwo) {
    const BadCase& c = GetParam();
    const ToolRun r = Tool(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "harmolune-measure: " + c.line);
    EXPECT_EQ(r.err.find("\n\nUtilisation : ") != std::string::npos, c.usage) << r.err;
}

const std::string kStyles = "« Standard », « Douzièmes pures », « Octaves 4:2 », « Octaves 6:3 »";

INSTANTIATE_TEST_SUITE_P(
    Arguments, PianoRefused,
    ::testing::Values(
        BadCase{"UnknownStyle",
                {"--curve", "p.json", "--style", "Baroque"},
                "style inconnu : « Baroque » ; les styles sont " + kStyles,
                true},
        BadCase{"CsvWithoutCurve",
                {"--csv"},
                "--style, --csv et --scala s'emploient avec --curve",
                true},
        BadCase{"CurveAndAKey",
                {"--curve", "p.json", "--key", "9"},
                "--curve s'emploie sans mesure : ni --key, --octave, --string, --record, ni "
                "enregistrement",
                true},
        BadCase{"PianoAndCurve",
                {"--curve", "p.json", "--piano", "p.json"},
                "--piano et --curve ne s'emploient pas ensemble",
                true},
        BadCase{"PianoWithAString",
                {"--string", "4", "--piano", "p.json", "x.wav"},
                "--piano s'emploie avec une touche du piano, de La 0 à Do 8 (--key, --octave)",
                true},
        BadCase{"PianoBelowA0",
                {"--key", "7", "--octave", "0", "--piano", "p.json", "x.wav"},
                "--piano s'emploie avec une touche du piano, de La 0 à Do 8 (--key, --octave)",
                true},
        BadCase{"PianoWithoutFile",
                {"--key", "9", "--piano"},
                "--piano attend le nom d'un fichier",
                true},
        BadCase{"StyleWithoutName",
                {"--curve", "p.json", "--style"},
                "--style attend le nom d'un style",
                true},
        BadCase{"NoRecord",
                {"--curve", "/nonexistent/p.json"},
                "/nonexistent/p.json : impossible de lire le relevé : " +
                    std::string(std::strerror(ENOENT)),
                false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PianoCommands, ARecordThatCannotBeReadIsLeftAsItIs) {
    TempDir dir;
    const std::string path = dir.File("piano.json");
    for (const std::string& bytes :
         {std::string("{\"version\": 1, \"keys\": 7}"), std::string("{\"version\": 3}")}) {
        WriteFile(path, bytes);
        const ToolRun r = Tool({"--curve", path});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("harmolune-measure: Le relevé du piano « " + path + " » est ", 0), 0U)
            << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
        EXPECT_EQ(ReadFile(path), bytes);
        EXPECT_FALSE(std::filesystem::exists(path + ".endommagé"));
    }
}

TEST(PianoCommands, AScaleThatCannotBeWrittenIsSaid) {
    TempDir dir;
    WriteFile(dir / "piano.json", EightAsRecord());
    const std::string prefix = (dir / "missing/grand").string();
    const ToolRun r = Tool({"--curve", dir.File("piano.json"), "--scala", prefix});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("harmolune-measure: " + prefix +
                         ".scl : impossible d'écrire ce fichier : " + std::strerror(ENOENT) + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

// La 2 struck on one string of B = 2.5 × 10⁻⁴, as a WAV.
std::string WriteA2(const TempDir& dir, double f1, unsigned seed) {
    testing::StiffStringTone tone;
    tone.midiNote = 45;
    tone.fundamentalHz = f1;
    tone.inharmonicity = 2.5e-4;
    tone.seed = seed;
    testing::WavLayout layout;
    layout.samples = testing::SynthesiseStiffString(tone).samples;
    std::string path = dir.File("a2-" + std::to_string(seed) + ".wav");
    WriteFile(path, testing::WavBytes(layout));
    return path;
}

TEST(PianoCommands, PianoAddsTheFinalReadingAndReplacesItWhenMeasuredAgain) {
    TempDir dir;
    const std::string record = (dir / "data/piano.json").string();
    const ToolRun first =
        Tool({"--key", "9", "--octave", "2", "--piano", record, WriteA2(dir, 110.2, 4)});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err,
              "harmolune-measure: " + record + " : La 2 ajouté au relevé, qui compte 1 touche\n");
    const std::vector<std::string> lines = Split(first.out, '\n');
    const std::vector<std::string> fine = Split(lines[lines.size() - 2], '\t');
    ASSERT_EQ(fine[0], "fine");

    tuning::LoadedRecord loaded = tuning::LoadPianoRecord(record);
    ASSERT_EQ(loaded.status, tuning::RecordStatus::kLoaded) << loaded.line;
    ASSERT_EQ(loaded.record.keys.size(), 1U);
    const tuning::MeasuredKey& key = loaded.record.keys.at(45);
    // What the fine line printed, to its four decimals.
    EXPECT_NEAR(key.f1Hz, std::stod(fine[1]), 5e-5);
    EXPECT_NEAR(key.uncertaintyCents, std::stod(fine[3]), 5e-3);
    ASSERT_TRUE(key.inharmonicity);
    EXPECT_NEAR(*key.inharmonicity, 2.5e-4, 0.05 * 2.5e-4);
    EXPECT_GE(key.partials.size(), 8U);
    EXPECT_TRUE(std::regex_match(key.measuredAt, std::regex(R"(20\d\d-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
        << key.measuredAt;

    const ToolRun again =
        Tool({"--key", "9", "--octave", "2", "--piano", record, WriteA2(dir, 109.8, 5)});
    ASSERT_EQ(again.status, 0) << again.err;
    loaded = tuning::LoadPianoRecord(record);
    ASSERT_EQ(loaded.record.keys.size(), 1U);
    EXPECT_NEAR(loaded.record.keys.at(45).f1Hz, 109.8, 0.05);
}

TEST(PianoCommands, ANoteWithoutAFinalReadingAddsNothingAndSaysSo) {
    TempDir dir;
    testing::WavLayout layout;
    layout.samples.assign(std::size_t{3} * 4096, 128);
    WriteFile(dir / "silence.wav", testing::WavBytes(layout));
    const std::string record = dir.File("piano.json");
    const ToolRun r =
        Tool({"--key", "9", "--octave", "4", "--piano", record, dir.File("silence.wav")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "harmolune-measure: " + record +
                         " : la mesure fine n'a pas donné de lecture finale : rien n'est ajouté au "
                         "relevé\n");
    EXPECT_FALSE(std::filesystem::exists(record));
}

// A damaged record is set aside and the reading starts a new one; a newer
// one is left alone and the reading not added.
TEST(PianoCommands, PianoSetsADamagedRecordAsideAndLeavesANewerOneAlone) {
    TempDir dir;
    const std::string record = dir.File("piano.json");
    const std::string wav = WriteA2(dir, 110.2, 4);
    WriteFile(record, "{\"version\": 1, \"keys\": [1]}");
    const ToolRun damaged = Tool({"--key", "9", "--octave", "2", "--piano", record, wav});
    EXPECT_EQ(damaged.status, 2);
    EXPECT_NE(damaged.err.find("est endommagé ; il est mis de côté sous « " + record +
                               ".endommagé » et un nouveau relevé commence"),
              std::string::npos)
        << damaged.err;
    EXPECT_EQ(ReadFile(record + ".endommagé"), "{\"version\": 1, \"keys\": [1]}");
    EXPECT_EQ(tuning::LoadPianoRecord(record).record.keys.size(), 1U);

    const std::string newer = "{\"version\": 2}";
    WriteFile(record, newer);
    const ToolRun refused = Tool({"--key", "9", "--octave", "2", "--piano", record, wav});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("version plus récente"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFile(record), newer);
}

}  // namespace
}  // namespace harmolune
