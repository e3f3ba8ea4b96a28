// The piano's record on disk: real files in a temporary folder, the bytes
// written by hand or read back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/Files.h"
#include "tuning/PianoRecord.h"

namespace harmolune::tuning {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

MeasuredKey Key(int midi, double f1, std::optional<double> B = std::nullopt) {
    MeasuredKey key;
    key.midiNote = midi;
    key.f1Hz = f1;
    key.uncertaintyCents = 0.1 + 1.0 / 3.0;
    key.inharmonicity = B;
    key.partials = {{2, 2.0 * f1 + 0.1}, {3, 3.0 * f1 + std::sqrt(2.0)}};
    key.seconds = 2.5;
    key.measuredAt = "2026-12-09T14:03:27Z";
    return key;
}

TEST(PianoRecord, WhatIsSavedIsReadBackToTheLastBit) {
    TempDir dir;
    PianoRecord record;
    record.style = "Douzièmes pures";
    // Numbers a 5-digit writer would spoil.
    ASSERT_TRUE(AddReading(record, Key(108, 4186.009044809578, 1.2345678901234567e-2)));
    ASSERT_TRUE(AddReading(record, Key(21, 27.500000000000004, 3.0000000000000001e-4)));
    ASSERT_TRUE(AddReading(record, Key(69, 440.0 + 1e-13)));
    std::string error;
    ASSERT_TRUE(SavePianoRecord(dir.File("piano.json"), record, error)) << error;
    const LoadedRecord loaded = LoadPianoRecord(dir.File("piano.json"));
    ASSERT_EQ(loaded.status, RecordStatus::kLoaded) << loaded.line;
    EXPECT_EQ(loaded.line, "");
    EXPECT_EQ(loaded.record.style, "Douzièmes pures");
    ASSERT_EQ(loaded.record.keys.size(), 3U);
    for (const auto& [note, key] : record.keys) {
        const MeasuredKey& back = loaded.record.keys.at(note);
        EXPECT_EQ(back.midiNote, key.midiNote);
        EXPECT_EQ(back.f1Hz, key.f1Hz);
        EXPECT_EQ(back.uncertaintyCents, key.uncertaintyCents);
        EXPECT_EQ(back.inharmonicity, key.inharmonicity);
        ASSERT_EQ(back.partials.size(), key.partials.size());
        for (std::size_t i = 0; i < key.partials.size(); ++i) {
            EXPECT_EQ(back.partials[i].number, key.partials[i].number);
            EXPECT_EQ(back.partials[i].frequencyHz, key.partials[i].frequencyHz);
        }
        EXPECT_EQ(back.seconds, key.seconds);
        EXPECT_EQ(back.measuredAt, key.measuredAt);
    }
    // The version comes first; the keys lowest first.
    const std::string text = ReadFile(dir / "piano.json");
    EXPECT_EQ(text.substr(0, 18), "{\n  \"version\": 1,\n") << text;
    EXPECT_LT(text.find("\"midi\": 21"), text.find("\"midi\": 69"));
    EXPECT_LT(text.find("\"midi\": 69"), text.find("\"midi\": 108"));
    EXPECT_NE(text.find("4186.009044809578"), std::string::npos);
    // A key with no B has no such field.
    const std::size_t a4 = text.find("\"midi\": 69");
    EXPECT_EQ(text.find("inharmonicity", a4),
              text.find("inharmonicity", text.find("\"midi\": 108")));
}

TEST(PianoRecord, AKeyMeasuredAgainReplacesItsEntry) {
    PianoRecord record;
    ASSERT_TRUE(AddReading(record, Key(69, 440.5, 6e-4)));
    ASSERT_TRUE(AddReading(record, Key(57, 220.1)));
    ASSERT_TRUE(AddReading(record, Key(69, 439.8)));
    ASSERT_EQ(record.keys.size(), 2U);
    EXPECT_EQ(record.keys.at(69).f1Hz, 439.8);
    EXPECT_FALSE(record.keys.at(69).inharmonicity);
    const std::vector<MeasuredKey> readings = Readings(record);
    ASSERT_EQ(readings.size(), 2U);
    EXPECT_EQ(readings[0].midiNote, 57);
    EXPECT_EQ(readings[1].midiNote, 69);
}

struct BadReading {
    // cppcheck-suppress unusedStructMember ; the test\'s name, read by the name generator
    const char* name;
    MeasuredKey key;
};

class RefusedReading : public ::testing::TestWithParam<BadReading> {};

TEST_P(RefusedReading, ChangesNothing) {
    PianoRecord record;
    ASSERT_TRUE(AddReading(record, Key(60, 261.6)));
    const BadReading& c = GetParam();
    EXPECT_FALSE(AddReading(record, c.key));
    ASSERT_EQ(record.keys.size(), 1U);
    EXPECT_EQ(record.keys.at(60).f1Hz, 261.6);
}

MeasuredKey With(MeasuredKey key, void (*change)(MeasuredKey&)) {
    change(key);
    return key;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RefusedReading,
    ::testing::Values(
        BadReading{"BelowA0", Key(20, 25.9)}, BadReading{"AboveC8", Key(109, 4434.9)},
        BadReading{"NoFrequency", Key(60, 0.0)}, BadReading{"NotANumber", Key(60, std::nan(""))},
        BadReading{"NegativeB", Key(60, 261.6, -1e-4)},
        BadReading{"NegativeUncertainty",
                   With(Key(60, 261.6), [](MeasuredKey& k) { k.uncertaintyCents = -1.0; })},
        BadReading{"PartialZero",
                   With(Key(60, 261.6), [](MeasuredKey& k) { k.partials[0].number = 0; })}),
    [](const auto& info) { return std::string(info.param.name); });

// Fields another version wrote stay, in their place among their own kind,
// when this version rewrites the file; a key measured again starts afresh.
TEST(PianoRecord, FieldsThisVersionDoesNotKnowAreKept) {
    TempDir dir;
    const std::string path = dir.File("piano.json");
    WriteFile(path,
              R"({"version": 1, "owner": {"name": "Salle Cortot", "serial": [1, 2]},
                  "style": "Standard",
                  "keys": [{"midi": 60, "f1Hz": 261.7, "hammer": "voiced", "seconds": 1},
                           {"midi": 69, "f1Hz": 440.2, "unison": [0.1, -0.2]}],
                  "temperature": 21.5})");
    LoadedRecord loaded = LoadPianoRecord(path);
    ASSERT_EQ(loaded.status, RecordStatus::kLoaded) << loaded.line;
    ASSERT_TRUE(AddReading(loaded.record, Key(69, 440.0)));
    std::string error;
    ASSERT_TRUE(SavePianoRecord(path, loaded.record, error)) << error;
    const std::string text = ReadFile(path);
    EXPECT_NE(text.find(R"("owner": {
    "name": "Salle Cortot",
    "serial": [
      1,
      2
    ]
  })"),
              std::string::npos)
        << text;
    EXPECT_LT(text.find("\"owner\""), text.find("\"temperature\": 21.5"));
    EXPECT_NE(text.find("\"hammer\": \"voiced\""), std::string::npos);
    EXPECT_EQ(text.find("unison"), std::string::npos);
    // And once more: nothing moves.
    const LoadedRecord again = LoadPianoRecord(path);
    ASSERT_TRUE(SavePianoRecord(path, again.record, error)) << error;
    EXPECT_EQ(ReadFile(path), text);
}

struct DamagedCase {
    // cppcheck-suppress unusedStructMember ; the test\'s name, read by the name generator
    const char* name;
    std::string bytes;
    std::string reason;  // the French reason, whole or its beginning
};

class Damaged : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(Damaged, GivesItsReason) {
    const DamagedCase& c = GetParam();
    const LoadedRecord parsed = ParsePianoRecord(c.bytes);
    EXPECT_EQ(parsed.status, RecordStatus::kDamaged);
    EXPECT_EQ(parsed.line.substr(0, c.reason.size()), c.reason) << parsed.line;
    EXPECT_EQ(parsed.line.find('\n'), std::string::npos);
    EXPECT_TRUE(parsed.record.keys.empty());
}

const std::string kJson = "ce n'est pas du JSON lisible : [json.exception.parse_error.101]";
const std::string kVersion = "« version » manque, ou n'est pas un entier positif";

std::string Keys(const std::string& entry) { return R"({"version": 1, "keys": [)" + entry + "]}"; }

INSTANTIATE_TEST_SUITE_P(
    Bytes, Damaged,
    ::testing::Values(
        DamagedCase{"Empty", "", kJson}, DamagedCase{"CutShort", R"({"version": 1, "ke)", kJson},
        DamagedCase{"Binary", std::string("\x89PNG\r\n\x1a\n\0\0", 10), kJson},
        DamagedCase{"NotUtf8", "{\"version\": 1, \"style\": \"\xff\"}", kJson},
        DamagedCase{"NewlineInText", "{\"version\": 1,\n\"style\": \"a\nb\"}", kJson},
        DamagedCase{"AList", "[1, 2]", "ce n'est pas un objet JSON"},
        DamagedCase{"NoVersion", R"({"keys": []})", kVersion},
        DamagedCase{"VersionAsText", R"({"version": "1"})", kVersion},
        DamagedCase{"VersionZero", R"({"version": 0})", kVersion},
        DamagedCase{"VersionHalf", R"({"version": 1.5})", kVersion},
        DamagedCase{"StyleNumber", R"({"version": 1, "style": 3})", "« style » doit être un texte"},
        DamagedCase{"KeysObject", R"({"version": 1, "keys": {}})", "« keys » doit être une liste"},
        DamagedCase{"KeyNotObject", Keys("69"), "l'entrée 1 de « keys » : n'est pas un objet"},
        DamagedCase{"MidiBelow", Keys(R"({"midi": 20, "f1Hz": 26})"),
                    "l'entrée 1 de « keys » : « midi » doit être un entier de 21 à 108"},
        DamagedCase{"MidiFraction", Keys(R"({"midi": 69.5, "f1Hz": 440})"),
                    "l'entrée 1 de « keys » : « midi » doit être un entier de 21 à 108"},
        DamagedCase{"SecondKeyNoF1", Keys(R"({"midi": 69, "f1Hz": 440}, {"midi": 70})"),
                    "l'entrée 2 de « keys » : « f1Hz » doit être un nombre positif"},
        DamagedCase{"HugeF1", Keys(R"({"midi": 69, "f1Hz": 1e400})"), ""},
        DamagedCase{"NegativeSeconds", Keys(R"({"midi": 69, "f1Hz": 440, "seconds": -1})"),
                    "l'entrée 1 de « keys » : « seconds » doit être un nombre positif ou nul"},
        DamagedCase{"BAsText", Keys(R"({"midi": 69, "f1Hz": 440, "inharmonicity": "6e-4"})"),
                    "l'entrée 1 de « keys » : « inharmonicity » doit être un nombre positif, "
                    "ou null"},
        DamagedCase{"PartialWithoutHz",
                    Keys(R"({"midi": 69, "f1Hz": 440, "partials": [{"n": 2}]})"),
                    "l'entrée 1 de « keys » : « partials » doit donner pour chaque partiel"},
        DamagedCase{"DateAsNumber", Keys(R"({"midi": 69, "f1Hz": 440, "measuredAt": 2026})"),
                    "l'entrée 1 de « keys » : « measuredAt » doit être un texte"},
        DamagedCase{"NestedDeep",
                    R"({"version": 1, "x": )" + std::string(100, '[') + std::string(100, ']') + "}",
                    "des listes ou des objets y sont imbriqués sur plus de 64 niveaux"}),
    [](const auto& info) { return std::string(info.param.name); });

// Integers may be written as numbers with nothing after the point, and a B
// may be null: both as another JSON writer might put them.
TEST(PianoRecord, ReadsWhatOtherWritersWrite) {
    const LoadedRecord parsed = ParsePianoRecord(
        R"({"keys": [{"midi": 69.0, "f1Hz": 440, "inharmonicity": null,
                      "partials": [{"n": 2.0, "hz": 880}]}], "version": 1.0})");
    ASSERT_EQ(parsed.status, RecordStatus::kLoaded) << parsed.line;
    ASSERT_EQ(parsed.record.keys.size(), 1U);
    const MeasuredKey& key = parsed.record.keys.at(69);
    EXPECT_EQ(key.f1Hz, 440.0);
    EXPECT_FALSE(key.inharmonicity);
    ASSERT_EQ(key.partials.size(), 1U);
    EXPECT_EQ(key.partials[0].number, 2);
    EXPECT_EQ(parsed.record.style, "Standard");
}

// A damaged record is never written over: it is moved aside as
// FILE.endommagé, bytes untouched, and a second one does not replace the
// first.
TEST(PianoRecord, ADamagedRecordIsSetAsideAndANewOneStarts) {
    TempDir dir;
    const std::string path = dir.File("piano.json");
    WriteFile(path, "{\"version\": 1, \"keys\": [");
    const LoadedRecord first = LoadPianoRecord(path);
    EXPECT_EQ(first.status, RecordStatus::kSetAside);
    EXPECT_TRUE(first.CanSave());
    EXPECT_TRUE(first.record.keys.empty());
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(ReadFile(dir / "piano.json.endommagé"), "{\"version\": 1, \"keys\": [");
    EXPECT_EQ(first.line.substr(0, first.line.find(" : ")),
              "Le relevé du piano « " + path + " » est endommagé ; il est mis de côté sous « " +
                  path + ".endommagé » et un nouveau relevé commence");
    EXPECT_NE(first.line.find("parse_error"), std::string::npos) << first.line;

    WriteFile(path, "nonsense");
    const LoadedRecord second = LoadPianoRecord(path);
    EXPECT_EQ(second.status, RecordStatus::kSetAside);
    EXPECT_EQ(ReadFile(dir / "piano.json.endommagé"), "{\"version\": 1, \"keys\": [");
    EXPECT_EQ(ReadFile(dir / "piano.json.endommagé.2"), "nonsense");
    EXPECT_NE(second.line.find(path + ".endommagé.2 »"), std::string::npos) << second.line;
}

TEST(PianoRecord, ADamagedRecordIsOnlyReadWhenNotToBeSetAside) {
    TempDir dir;
    const std::string path = dir.File("piano.json");
    WriteFile(path, "[]");
    const LoadedRecord loaded = LoadPianoRecord(path, false);
    EXPECT_EQ(loaded.status, RecordStatus::kDamaged);
    EXPECT_FALSE(loaded.CanSave());
    EXPECT_EQ(loaded.line,
              "Le relevé du piano « " + path + " » est endommagé : ce n'est pas un objet JSON");
    EXPECT_EQ(ReadFile(path), "[]");
}

TEST(PianoRecord, ANewerVersionIsRefusedAndLeftAlone) {
    TempDir dir;
    const std::string path = dir.File("piano.json");
    const std::string bytes = R"({"version": 2, "keys": "something else entirely"})";
    WriteFile(path, bytes);
    const LoadedRecord loaded = LoadPianoRecord(path);
    EXPECT_EQ(loaded.status, RecordStatus::kNewer);
    EXPECT_FALSE(loaded.CanSave());
    EXPECT_EQ(loaded.line, "Le relevé du piano « " + path +
                               " » est laissé tel quel : il vient d'une version plus récente de "
                               "Harmolune (format 2, celle-ci lit le format 1)");
    EXPECT_EQ(ReadFile(path), bytes);
    EXPECT_FALSE(std::filesystem::exists(path + ".endommagé"));
}

TEST(PianoRecord, NoFileIsANewRecordAndNothingIsMade) {
    TempDir dir;
    const LoadedRecord loaded = LoadPianoRecord(dir.File("piano.json"));
    EXPECT_EQ(loaded.status, RecordStatus::kNew);
    EXPECT_EQ(loaded.line, "");
    EXPECT_TRUE(loaded.CanSave());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(PianoRecord, AFolderInPlaceOfTheRecordIsLeftAlone) {
    TempDir dir;
    std::filesystem::create_directory(dir / "piano.json");
    const LoadedRecord loaded = LoadPianoRecord(dir.File("piano.json"));
    EXPECT_EQ(loaded.status, RecordStatus::kUnreadable);
    EXPECT_FALSE(loaded.CanSave());
    EXPECT_EQ(loaded.line, "Le relevé du piano « " + dir.File("piano.json") +
                               " » ne peut être lu et reste tel quel : " + std::strerror(EISDIR));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "piano.json"));
}

// The first save makes the folders; no temporary file stays behind.
TEST(PianoRecord, SavingMakesTheFolderAndLeavesOnlyTheRecord) {
    TempDir dir;
    const std::string path = (dir / "data/harmolune/piano.json").string();
    PianoRecord record;
    ASSERT_TRUE(AddReading(record, Key(60, 261.6)));
    std::string error;
    ASSERT_TRUE(SavePianoRecord(path, record, error)) << error;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "data/harmolune")) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"piano.json"});
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    // As readable as any file the user makes, not private as a temporary one.
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST(PianoRecord, ALinkIsWrittenThroughToTheFileItNames) {
    TempDir dir;
    WriteFile(dir / "real.json", "{\"version\": 1}");
    std::filesystem::create_symlink("real.json", dir / "piano.json");
    PianoRecord record;
    ASSERT_TRUE(AddReading(record, Key(60, 261.6)));
    std::string error;
    ASSERT_TRUE(SavePianoRecord(dir.File("piano.json"), record, error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "piano.json"));
    EXPECT_NE(ReadFile(dir / "real.json").find("\"midi\": 60"), std::string::npos);
}

// A save that cannot be made leaves the old file as it was and says why.
TEST(PianoRecord, AFailedSaveSaysWhyInFrenchAndKeepsTheOldFile) {
    TempDir dir;
    WriteFile(dir / "file", "x");
    const std::string path = (dir / "file/piano.json").string();
    std::string error;
    EXPECT_FALSE(SavePianoRecord(path, PianoRecord{}, error));
    EXPECT_EQ(error, "Le relevé du piano n'a pas pu être enregistré dans « " + path +
                         " » : " + std::strerror(ENOTDIR));
    EXPECT_EQ(ReadFile(dir / "file"), "x");
}

struct PathCase {
    // cppcheck-suppress unusedStructMember ; the test\'s name, read by the name generator
    const char* name;
    const char* xdgDataHome;
    const char* home;
    const char* path;
};

class DefaultPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(DefaultPath, FollowsTheXdgDataFolder) {
    const PathCase& c = GetParam();
    EXPECT_EQ(DefaultPianoRecordPath(c.xdgDataHome, c.home), c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, DefaultPath,
    ::testing::Values(PathCase{"Xdg", "/data", "/home/u", "/data/harmolune/piano.json"},
                      PathCase{"XdgSlash", "/data/", "/home/u", "/data/harmolune/piano.json"},
                      PathCase{"NoXdg", "", "/home/u", "/home/u/.local/share/harmolune/piano.json"},
                      PathCase{"RelativeXdg", "data", "/home/u",
                               "/home/u/.local/share/harmolune/piano.json"},
                      PathCase{"Nothing", "", "", "piano.json"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harmolune::tuning
