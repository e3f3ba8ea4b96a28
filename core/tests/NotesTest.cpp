// Choosing a note: MIDI numbers, names, octave texts and the reference text
// of every key of every octave and of every string.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "core/Notes.h"

namespace harmolune {
namespace {

// 440 * 2^((n - 69) / 12) in long double, in the "0.00" pattern.
std::string EqualTempered(int note) {
    const long double f = 440.0L * powl(2.0L, (note - 69) / 12.0L);
    char text[64];
    std::snprintf(text, sizeof text, "%.2Lf", f);  // the test pins no locale: digits only
    std::string s(text);
    for (char& c : s) {
        if (c == ',') {
            c = '.';
        }
    }
    return s + "Hz";
}

TEST(ChooseKey, EveryKeyOfEveryOctaveIsEqualTempered) {
    for (int octave = -1; octave <= 8; ++octave) {
        for (int key = 0; key < 12; ++key) {
            const NoteChoice c = ChooseKey(key, octave, ".");
            const int note = (octave + 1) * 12 + key;
            EXPECT_EQ(c.note, note);
            EXPECT_EQ(c.program, 0);
            EXPECT_EQ(c.referenceText, EqualTempered(note))
                << "key " << key << " octave " << octave;
            EXPECT_EQ(c.octaveText, std::to_string(octave));
        }
    }
}

TEST(ChooseKey, NamedCases) {
    struct Case {
        int key;
        int octave;
        int note;
        const char* name;
        const char* octaveText;
        const char* reference;
    };
    const Case cases[] = {
        {9, 4, 69, "La", "4", "440.00Hz"},    {0, -1, 0, "Do", "-1", "8.18Hz"},
        {11, 8, 119, "Si", "8", "7902.13Hz"}, {0, 4, 60, "Do", "4", "261.63Hz"},
        {1, 4, 61, "Do#", "4", "277.18Hz"},   {2, 4, 62, "Ré", "4", "293.66Hz"},
        {3, 4, 63, "Mib", "4", "311.13Hz"},   {4, 4, 64, "Mi", "4", "329.63Hz"},
        {5, 4, 65, "Fa", "4", "349.23Hz"},    {6, 4, 66, "Fa#", "4", "369.99Hz"},
        {7, 4, 67, "Sol", "4", "392.00Hz"},   {8, 4, 68, "Sol#", "4", "415.30Hz"},
        {10, 4, 70, "Sib", "4", "466.16Hz"},  {11, 4, 71, "Si", "4", "493.88Hz"},
        {0, 0, 12, "Do", "0", "16.35Hz"},
    };
    for (const Case& c : cases) {
        const NoteChoice n = ChooseKey(c.key, c.octave, ".");
        EXPECT_EQ(n.note, c.note);
        EXPECT_EQ(n.name, c.name);
        EXPECT_EQ(n.octaveText, c.octaveText);
        EXPECT_EQ(n.referenceText, c.reference);
    }
}

TEST(ChooseKey, DecimalSeparatorIsTheOneGiven) {
    EXPECT_EQ(ChooseKey(9, 4, ",").referenceText, "440,00Hz");
    EXPECT_EQ(ChooseKey(0, 4, ",").referenceText, "261,63Hz");
}

TEST(ChooseString, TheSixOpenStrings) {
    struct Case {
        int index;
        int note;
        const char* name;
        const char* octaveText;
        const char* reference;
    };
    const Case cases[] = {
        {4, 40, "Mi", "2", "82.41Hz"},   {9, 45, "La", "2", "110.00Hz"},
        {14, 50, "Ré", "3", "146.83Hz"}, {19, 55, "Sol", "3", "196.00Hz"},
        {23, 59, "Si", "3", "246.94Hz"}, {28, 64, "Mi", "4", "329.63Hz"},
    };
    for (const Case& c : cases) {
        const NoteChoice n = ChooseString(c.index, ".");
        EXPECT_EQ(n.program, 25);
        EXPECT_EQ(n.note, c.note);
        EXPECT_EQ(n.name, c.name);
        EXPECT_EQ(n.octaveText, c.octaveText);
        EXPECT_EQ(n.referenceText, c.reference);
        EXPECT_EQ(n.referenceText, EqualTempered(c.note));
    }
}

TEST(ChooseString, HighStringAndKeyMiAtOctaveFourAgree) {
    const NoteChoice s = ChooseString(28, ".");
    const NoteChoice k = ChooseKey(4, 4, ".");
    EXPECT_EQ(s.note, k.note);
    EXPECT_EQ(s.name, k.name);
    EXPECT_EQ(s.octaveText, k.octaveText);
    EXPECT_EQ(s.referenceText, k.referenceText);
}

TEST(Choose, OutOfRangeIsRefused) {
    EXPECT_THROW(ChooseKey(12, 4, "."), std::out_of_range);
    EXPECT_THROW(ChooseKey(-1, 4, "."), std::out_of_range);
    EXPECT_THROW(ChooseKey(0, 9, "."), std::out_of_range);
    EXPECT_THROW(ChooseKey(0, -2, "."), std::out_of_range);
    EXPECT_THROW(ChooseString(0, "."), std::out_of_range);
    EXPECT_THROW(ChooseString(5, "."), std::out_of_range);
    EXPECT_FALSE(IsStringIndex(0));
    EXPECT_TRUE(IsStringIndex(23));
}

TEST(Keys, TagsTooltipsAndColours) {
    EXPECT_EQ(kKeys[0].tooltip, "Jouer DO");
    EXPECT_EQ(kKeys[2].tag, "Ré");
    int black = 0;
    for (const KeyInfo& k : kKeys) {
        black += k.black ? 1 : 0;
    }
    EXPECT_EQ(black, 5);
    EXPECT_TRUE(kKeys[1].black && kKeys[3].black && kKeys[6].black && kKeys[8].black &&
                kKeys[10].black);
}

}  // namespace
}  // namespace harmolune
