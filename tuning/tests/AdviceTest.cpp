// The line that says which keys to measure next, and the keys' names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tuning/Advice.h"

namespace harmolune::tuning {
namespace {

struct NameCase {
    int midiNote;
    const char* name;
};

class Names : public ::testing::TestWithParam<NameCase> {};

// As the window writes them: the button's tag, a space, the octave.
TEST_P(Names, AreTheWindowsTagAndOctave) {
    const NameCase& c = GetParam();
    EXPECT_EQ(KeyName(c.midiNote), c.name);
}

INSTANTIATE_TEST_SUITE_P(Keys, Names,
                         ::testing::Values(NameCase{21, "La 0"}, NameCase{24, "Do 1"},
                                           NameCase{39, "Mib 2"}, NameCase{61, "Do# 4"},
                                           NameCase{62, "Ré 4"}, NameCase{69, "La 4"},
                                           NameCase{70, "Sib 4"}, NameCase{71, "Si 4"},
                                           NameCase{108, "Do 8"}));

BFit BreakBetween(int last, int first) {
    BFit fit;
    fit.valid = true;
    fit.lastBassKey = last;
    fit.firstTrebleKey = first;
    fit.breakKey = (last + first + 1) / 2;
    return fit;
}

struct AdviceCase {
    // cppcheck-suppress unusedStructMember ; the test\'s name, read by the name generator
    const char* name;
    bool fitted;
    BFit fit;
    std::vector<int> measured;
    std::vector<int> withB;
    const char* advice;
    std::vector<int> keys;  // those the advice names, read off it
};

class Advice : public ::testing::TestWithParam<AdviceCase> {};

TEST_P(Advice, NamesTheKeysStillToMeasure) {
    const AdviceCase& c = GetParam();
    EXPECT_EQ(CurveAdvice(c.fitted, c.fit, c.measured, c.withB), c.advice);
    EXPECT_EQ(CurveAdviceKeys(c.fitted, c.fit, c.measured, c.withB), c.keys);
}

INSTANTIATE_TEST_SUITE_P(
    Records, Advice,
    ::testing::Values(
        AdviceCase{"Nothing",
                   false,
                   BFit{},
                   {},
                   {},
                   "La courbe demande 4 touches mesurées sur au moins 3 octaves : mesurez La 1, "
                   "La 2, La 3, La 4, La 5, La 6 et La 7, puis Do 2 et Do 3, de part et d'autre "
                   "de la fin des cordes filées.",
                   {33, 45, 57, 69, 81, 93, 105, 36, 48}},
        // A4 measured without its B does not count yet; A6 needs none.
        AdviceCase{"AFewAs",
                   false,
                   BFit{},
                   {45, 69, 93},
                   {45},
                   "La courbe demande 4 touches mesurées sur au moins 3 octaves : mesurez La 1, "
                   "La 3, La 4, La 5 et La 7, puis Do 2 et Do 3, de part et d'autre de la fin des "
                   "cordes filées.",
                   {33, 57, 69, 81, 105, 36, 48}},
        // The eight A's and C1: the break lies somewhere between A1 and A2.
        AdviceCase{"EightAsAndC1",
                   true,
                   BreakBetween(33, 45),
                   {21, 24, 33, 45, 57, 69, 81, 93, 105},
                   {21, 24, 33, 45, 57, 69, 81},
                   "Pour affiner la courbe, mesurez aussi Do# 2 et Fa 2, de part et d'autre de "
                   "la fin des cordes filées.",
                   {37, 41}},
        AdviceCase{"BreakPlacedClosely",
                   true,
                   BreakBetween(37, 41),
                   {21, 24, 33, 37, 41, 45, 57, 69, 81, 93, 105},
                   {21, 24, 33, 37, 41, 45, 57, 69, 81},
                   "",
                   {}},
        AdviceCase{"OnlyTheTopAsMissing",
                   true,
                   BreakBetween(37, 41),
                   {21, 33, 37, 41, 45, 57, 69, 81},
                   {21, 33, 37, 41, 45, 57, 69, 81},
                   "Pour affiner la courbe, mesurez aussi La 6 et La 7.",
                   {93, 105}},
        // One line and too little bass to see a break.
        AdviceCase{"NoBassYet",
                   true,
                   BFit{},
                   {45, 57, 69, 81},
                   {45, 57, 69, 81},
                   "Pour affiner la courbe, mesurez aussi La 1, La 6 et La 7, puis Do 2 et Do 3, "
                   "de part et d'autre de la fin des cordes filées.",
                   {33, 93, 105, 36, 48}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harmolune::tuning
