// The piano as the window keeps it, without a window: real record files in a
// temporary folder, written by hand or read back with the record's own
// reader, and the readings given as the live tuner gives them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/PianoKeeper.h"
#include "testing/Files.h"
#include "testing/SyntheticPiano.h"
#include "tuning/Styles.h"

namespace harmolune {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr const char* kWhen = "2026-12-09T14:03:27Z";

PianoKeeper::Clock Fixed() {
    return [] { return std::string(kWhen); };
}

// A reading of key midiNote as the live tuner gives it, with B and three
// partials.
LiveReading Reading(int midiNote, LiveState state = LiveState::Final, bool pianoKey = true) {
    LiveReading r;
    r.midiNote = midiNote;
    r.pianoKey = pianoKey;
    r.state = state;
    r.fine.frequencyHz = 440.0 * std::exp2((midiNote - 69) / 12.0) * 1.001;
    r.fine.cents = 1.73;
    r.fine.uncertaintyCents = 0.25;
    r.fine.seconds = 3.5;
    r.fine.final = state == LiveState::Final;
    r.fine.inharmonicity = 4.5e-4;
    r.fine.partialCount = 3;
    for (int n = 2; n <= 4; ++n) {
        r.fine.partials[static_cast<std::size_t>(n - 2)] = {n, n * r.fine.frequencyHz * 1.002};
    }
    return r;
}

tuning::LoadedRecord ReadBack(const std::string& path) {
    return tuning::LoadPianoRecord(path, false);
}

// The eight A's and C1 of a typical grand, as a record file.
void WriteEightAs(const std::string& path, const std::string& style = "Standard") {
    tuning::PianoRecord record;
    record.style = style;
    for (const tuning::MeasuredKey& key : testing::MeasureSyntheticPiano(
             testing::EightAsAndC1(), &testing::TypicalInharmonicity, {}, 7)) {
        ASSERT_TRUE(tuning::AddReading(record, key));
    }
    std::string error;
    ASSERT_TRUE(tuning::SavePianoRecord(path, record, error)) << error;
}

class Keeper : public ::testing::Test {
  protected:
    TempDir folder;
    std::string path = folder.File("harmolune/piano.json");
};

TEST_F(Keeper, AFinalReadingOfAPianoKeyIsSavedAsTheRecordKeepsIt) {
    PianoKeeper keeper(path, Fixed());
    EXPECT_TRUE(keeper.Load().empty());
    EXPECT_FALSE(std::filesystem::exists(path)) << "nothing to save yet";
    std::string error = "stale";
    ASSERT_TRUE(keeper.Keep(Reading(45), error));
    EXPECT_EQ(error, "");
    const tuning::LoadedRecord saved = ReadBack(path);
    ASSERT_EQ(saved.status, tuning::RecordStatus::kLoaded) << saved.line;
    ASSERT_EQ(saved.record.keys.size(), 1u);
    const tuning::MeasuredKey& key = saved.record.keys.at(45);
    const LiveReading reading = Reading(45);
    EXPECT_EQ(key.f1Hz, reading.fine.frequencyHz);
    EXPECT_EQ(key.uncertaintyCents, 0.25);
    EXPECT_EQ(key.inharmonicity, 4.5e-4);
    EXPECT_EQ(key.seconds, 3.5);
    EXPECT_EQ(key.measuredAt, kWhen);
    ASSERT_EQ(key.partials.size(), 3u);
    EXPECT_EQ(key.partials[0].number, 2);
    EXPECT_EQ(key.partials[2].number, 4);
    EXPECT_EQ(key.partials[2].frequencyHz, 4 * reading.fine.frequencyHz * 1.002);
    EXPECT_EQ(saved.record.style, "Standard");
}

TEST_F(Keeper, AKeyMeasuredAgainReplacesItsReading) {
    PianoKeeper keeper(path, Fixed());
    keeper.Load();
    std::string error;
    ASSERT_TRUE(keeper.Keep(Reading(57), error));
    LiveReading again = Reading(57);
    again.fine.frequencyHz = 221.0;
    ASSERT_TRUE(keeper.Keep(again, error));
    ASSERT_TRUE(keeper.Keep(Reading(69), error));
    const tuning::LoadedRecord saved = ReadBack(path);
    ASSERT_EQ(saved.record.keys.size(), 2u);
    EXPECT_EQ(saved.record.keys.at(57).f1Hz, 221.0);
}

struct NotKeptCase {
    const char* name;
    LiveReading reading;
};

void PrintTo(const NotKeptCase& c, std::ostream* os) { *os << c.name; }

class NotKept : public Keeper, public ::testing::WithParamInterface<NotKeptCase> {};

TEST_P(NotKept, ChangesNothingAndWritesNothing) {
    PianoKeeper keeper(path, Fixed());
    keeper.Load();
    std::string error;
    EXPECT_FALSE(keeper.Keep(GetParam().reading, error));
    EXPECT_TRUE(keeper.Record().keys.empty());
    EXPECT_FALSE(std::filesystem::exists(path));
}

INSTANTIATE_TEST_SUITE_P(
    Readings, NotKept,
    ::testing::Values(NotKeptCase{"AGuitarString", Reading(40, LiveState::Final, false)},
                      NotKeptCase{"StillRefining", Reading(69, LiveState::Refining)},
                      NotKeptCase{"OnlyStable", Reading(69, LiveState::Stable)},
                      NotKeptCase{"BelowA0", Reading(20)},  // Sol# 0, octave 0 of the window
                      NotKeptCase{"AboveC8", Reading(109)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Keeper, ADamagedRecordIsSetAsideWithItsLineAndANewOneStarts) {
    std::filesystem::create_directories(folder / "harmolune");
    WriteFile(path, "{\"version\": 1, \"keys\": 3}");
    PianoKeeper keeper(path, Fixed());
    const std::vector<std::string> lines = keeper.Load();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Le relevé du piano « " + path +
                            " » est endommagé ; il est mis de côté sous « " + path +
                            ".endommagé » et un nouveau relevé commence : « keys » doit être "
                            "une liste");
    EXPECT_EQ(ReadFile(path + ".endommagé"), "{\"version\": 1, \"keys\": 3}");
    EXPECT_TRUE(keeper.Saves());
    std::string error;
    ASSERT_TRUE(keeper.Keep(Reading(69), error));
    EXPECT_EQ(ReadBack(path).record.keys.size(), 1u);
}

TEST_F(Keeper, ANewerRecordIsLeftAloneAndTheReadingsKeptInMemory) {
    std::filesystem::create_directories(folder / "harmolune");
    const std::string newer = "{\"version\": 2, \"keys\": [], \"tempérament\": \"Werckmeister\"}";
    WriteFile(path, newer);
    PianoKeeper keeper(path, Fixed());
    const std::vector<std::string> lines = keeper.Load();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Le relevé du piano « " + path +
                            " » est laissé tel quel : il vient d'une version plus récente de "
                            "Harmolune (format 2, celle-ci lit le format 1) ; les touches "
                            "mesurées ne seront gardées qu'en mémoire");
    EXPECT_FALSE(keeper.Saves());
    std::string error;
    ASSERT_TRUE(keeper.Keep(Reading(69), error));
    EXPECT_TRUE(keeper.ChooseStyle("Octaves 6:3", error));
    keeper.StartNewPiano(error);
    ASSERT_TRUE(keeper.Keep(Reading(45), error));
    EXPECT_EQ(error, "") << "keeping in memory is no failure";
    EXPECT_EQ(ReadFile(path), newer);
    EXPECT_EQ(keeper.Record().keys.size(), 1u);
    EXPECT_TRUE(keeper.TargetOf(45).has_value()) << "the curve follows the readings in memory";
}

TEST_F(Keeper, AStyleThisVersionDoesNotKnowIsKeptAndTheCurveFollowsStandard) {
    std::filesystem::create_directories(folder / "harmolune");
    WriteEightAs(path, "Tempérament de Kirnberger");
    PianoKeeper keeper(path, Fixed());
    const std::vector<std::string> lines = keeper.Load();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Le relevé du piano « " + path +
                            " » : le style « Tempérament de Kirnberger » est inconnu ici ; la "
                            "courbe suit « Standard »");
    EXPECT_EQ(keeper.CurveStyle().name, "Standard");
    EXPECT_EQ(keeper.Curve().style, "Standard");
    std::string error;
    ASSERT_TRUE(keeper.Keep(Reading(60), error));
    EXPECT_EQ(ReadBack(path).record.style, "Tempérament de Kirnberger");
}

TEST_F(Keeper, AChosenStyleIsSavedAndTheCurveFollowsIt) {
    WriteEightAs(path);
    PianoKeeper keeper(path, Fixed());
    ASSERT_TRUE(keeper.Load().empty());
    const double standardC8 = keeper.TargetOf(108)->targetCents;
    std::string error;
    EXPECT_FALSE(keeper.ChooseStyle("Standard", error)) << "already chosen";
    EXPECT_FALSE(keeper.ChooseStyle("Werckmeister III", error)) << "no such style";
    ASSERT_TRUE(keeper.ChooseStyle("Octaves 6:3", error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(ReadBack(path).record.style, "Octaves 6:3");
    EXPECT_EQ(ReadBack(path).record.keys.size(), 9u);
    EXPECT_EQ(keeper.Curve().style, "Octaves 6:3");
    // 6:3 octaves are wider than the Standard's 4:2 at the top.
    EXPECT_GT(keeper.TargetOf(108)->targetCents, standardC8 + 1.0);
}

TEST_F(Keeper, ANewPianoIsAnEmptyRecordInTheSameStyleAndEqualTemperament) {
    WriteEightAs(path, "Douzièmes pures");
    PianoKeeper keeper(path, Fixed());
    keeper.Load();
    ASSERT_TRUE(keeper.TargetOf(93).has_value());
    std::string error;
    keeper.StartNewPiano(error);
    EXPECT_EQ(error, "");
    const tuning::LoadedRecord saved = ReadBack(path);
    EXPECT_TRUE(saved.record.keys.empty());
    EXPECT_EQ(saved.record.style, "Douzièmes pures");
    EXPECT_FALSE(keeper.TargetOf(93).has_value());
    for (const tuning::KeyTarget& key : keeper.Curve().keys) {
        EXPECT_EQ(key.targetCents, 0.0);
    }
}

// A target counts once the curve's targets come from measured keys: from a
// single key with B (the 4:2 stretch of that B), not from keys without one.
TEST_F(Keeper, TargetsOnceAKeyWithBIsMeasuredAndOnlyOnThePiano) {
    PianoKeeper keeper(path, Fixed());
    keeper.Load();
    EXPECT_FALSE(keeper.TargetOf(69).has_value());
    std::string error;
    LiveReading noB = Reading(100);
    noB.fine.inharmonicity.reset();
    noB.fine.partialCount = 0;
    ASSERT_TRUE(keeper.Keep(noB, error));
    EXPECT_FALSE(keeper.TargetOf(100).has_value());
    ASSERT_TRUE(keeper.Keep(Reading(57), error));
    ASSERT_TRUE(keeper.TargetOf(33).has_value());
    EXPECT_LT(keeper.TargetOf(33)->targetCents, -0.5) << "4:2 octaves stretch the bass down";
    EXPECT_EQ(keeper.TargetOf(69)->targetCents, 0.0);
    EXPECT_FALSE(keeper.TargetOf(20).has_value());
    EXPECT_FALSE(keeper.TargetOf(109).has_value());
}

TEST_F(Keeper, TheTargetsAreTheCurveOfTheRecordsReadings) {
    WriteEightAs(path);
    PianoKeeper keeper(path, Fixed());
    keeper.Load();
    const tuning::Curve curve =
        tuning::ComputeCurve(testing::MeasureSyntheticPiano(testing::EightAsAndC1(),
                                                            &testing::TypicalInharmonicity, {}, 7),
                             *tuning::FindStyle("Standard"));
    ASSERT_TRUE(curve.fitted);
    for (const int k : {21, 40, 69, 100, 108}) {
        EXPECT_EQ(keeper.TargetOf(k)->targetCents, curve.Key(k).targetCents) << k;
        EXPECT_EQ(keeper.TargetOf(k)->uncertaintyCents, curve.Key(k).uncertaintyCents) << k;
    }
}

// While it lives, files are opened with the rights of nobody when the tests
// run as root (as CI does), so that a folder of mode 0555 cannot be written:
// only the effective user changes, so that root takes it back.
class FilesAsNobody {
  public:
    FilesAsNobody() : wasRoot_(geteuid() == 0) {
        if (wasRoot_) {
            EXPECT_EQ(seteuid(kNobody), 0) << std::strerror(errno);
        }
    }
    ~FilesAsNobody() {
        if (wasRoot_) {
            EXPECT_EQ(seteuid(0), 0) << std::strerror(errno);
        }
    }
    FilesAsNobody(const FilesAsNobody&) = delete;
    FilesAsNobody& operator=(const FilesAsNobody&) = delete;

    static constexpr uid_t kNobody = 65534;

  private:
    bool wasRoot_;
};

TEST_F(Keeper, AFailedSaveGivesItsLineAndTheReadingStaysInMemory) {
    // The record's folder is there, and may be read but not written.
    const std::filesystem::path dir = folder / "harmolune";
    std::filesystem::create_directories(dir);
    ASSERT_EQ(chmod(folder.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
    PianoKeeper keeper(path, Fixed());
    std::string error;
    {
        const FilesAsNobody nobody;
        EXPECT_TRUE(keeper.Load().empty()) << "no record there: nothing to say yet";
        ASSERT_TRUE(keeper.Keep(Reading(69), error));
    }
    EXPECT_EQ(error, "Le relevé du piano n'a pas pu être enregistré dans « " + path +
                         " » : " + std::strerror(EACCES));
    EXPECT_EQ(keeper.Record().keys.size(), 1u);
    EXPECT_TRUE(keeper.TargetOf(45).has_value());
    // Once the folder can be written, the next change saves everything kept.
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    ASSERT_TRUE(keeper.Keep(Reading(45), error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(ReadBack(path).record.keys.size(), 2u);
}

}  // namespace
}  // namespace harmolune
