// The tuning display against a key's target on the piano's curve: the number,
// the needle, the colour and the verdict count from the target, a row shows
// the target itself, and the words say what the count is against. Every
// expected value is worked out by hand from the reading and the target.
#include <QAccessible>
#include <QImage>
#include <cmath>

#include "app/TuningDisplay.h"
#include "testing/WindowFixture.h"

namespace harmolune {
namespace {

using namespace testing_window;
using S = LiveState;

LiveReading Reading(double frequencyHz, double cents, double uncertainty, LiveState state,
                    bool pianoKey = true, double seconds = 0.8) {
    LiveReading r;
    r.fine.frequencyHz = frequencyHz;
    r.fine.cents = cents;
    r.fine.uncertaintyCents = uncertainty;
    r.fine.seconds = seconds;
    r.fine.final = state == LiveState::Final;
    r.state = state;
    r.pianoKey = pianoKey;
    return r;
}

struct TargetCase {
    const char* name;
    const char* separator;
    LiveReading reading;
    CurveTarget target;
    double deviationCents;  // reading − target, by hand
    const char* deviation;
    const char* uncertainty;
    const char* verdict;
    const char* targetText;
};

void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.name; }

class AgainstTheTarget : public ::testing::TestWithParam<TargetCase> {};

TEST_P(AgainstTheTarget, TheNumberNeedleAndVerdictCountFromIt) {
    const TargetCase& c = GetParam();
    const TuningView view = ViewOfReading(c.reading, "La 1", c.separator, c.target);
    EXPECT_FALSE(view.empty);
    EXPECT_NEAR(view.cents, c.deviationCents, 1e-9);
    EXPECT_EQ(view.deviation, QString::fromUtf8(c.deviation));
    EXPECT_EQ(view.uncertainty, QString::fromUtf8(c.uncertainty));
    EXPECT_EQ(view.verdict, QString::fromUtf8(c.verdict));
    EXPECT_EQ(view.inTune, std::string(c.verdict) == "juste");
    EXPECT_EQ(view.target, QString::fromUtf8(c.targetText));
    EXPECT_EQ(view.against, "par rapport à la courbe");
    // The band is the reading's own uncertainty.
    EXPECT_EQ(view.uncertaintyCents, c.reading.fine.uncertaintyCents);
}

INSTANTIATE_TEST_SUITE_P(
    TuningDisplay, AgainstTheTarget,
    ::testing::Values(
        // −10.3 − (−12.04) = +1.74: sharp of its target, though flat of
        // equal temperament.
        TargetCase{"SharpOfATargetBelow", ",", Reading(54.673, -10.3, 0.4, S::Refining),
                   CurveTarget{-12.04, 0.63}, 1.74, "+1,7 c", "± 0,4", "trop haut",
                   "cible −12,0 c ± 0,6"},
        // 23.1 − 23.4 = −0.3: in tune on the stretched treble.
        TargetCase{"InTuneOnAStretchedKey", ".", Reading(1799.5, 23.1, 0.2, S::Stable),
                   CurveTarget{23.4, 0.61}, -0.3, "−0.3 c", "± 0.2", "juste",
                   "cible +23.4 c ± 0.6"},
        // 3.0 − 0.0 = 3.0, and A4's target is written with its sign.
        TargetCase{"TheAnchorsTarget", ",", Reading(440.76, 3.0, 0.05, S::Final),
                   CurveTarget{0.0, 0.0}, 3.0, "+3,00 c", "± 0,05", "trop haut",
                   "cible +0,0 c ± 0,0"},
        // −0.04 rounds to zero: "+0,0", never "−0,0"; 0.46 − (−0.04) = 0.5.
        TargetCase{"NoMinusZeroInTheTarget", ",", Reading(440.1, 0.46, 0.3, S::Refining),
                   CurveTarget{-0.04, 0.26}, 0.5, "+0,5 c", "± 0,3", "juste", "cible +0,0 c ± 0,3"},
        // −30.0 − (−25.0) = −5.0 in the low bass.
        TargetCase{"FlatOfItsTarget", ".", Reading(27.1, -30.0, 1.2, S::Final),
                   CurveTarget{-25.0, 3.44}, -5.0, "−5.0 c", "± 1.2", "trop bas",
                   "cible −25.0 c ± 3.4"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TuningDisplayTarget, AGuitarStringStaysAgainstEqualTemperament) {
    const TuningView view = ViewOfReading(Reading(81.809, -12.6, 0.3, S::Refining, false), "Mi 2",
                                          ".", CurveTarget{-3.0, 0.5});
    EXPECT_EQ(view.deviation, "−12.6 c");
    EXPECT_EQ(view.target, "");
    EXPECT_EQ(view.against, "");
    EXPECT_TRUE(view.spokenName.contains("par rapport à Mi 2")) << view.spokenName.toStdString();
}

TEST(TuningDisplayTarget, WithoutATargetNothingChanges) {
    const TuningView view = ViewOfReading(Reading(54.673, -10.3, 0.4, S::Refining), "La 1", ",");
    EXPECT_EQ(view.deviation, "−10,3 c");
    EXPECT_EQ(view.target, "");
    EXPECT_EQ(view.against, "");
}

struct SpokenCase {
    const char* name;
    std::optional<LiveReading> reading;
    const char* noteName;
    CurveTarget target;
    const char* spoken;  // under C settings
};

void PrintTo(const SpokenCase& c, std::ostream* os) { *os << c.name; }

class SpokenAgainstTheTarget : public ::testing::TestWithParam<SpokenCase> {};

TEST_P(SpokenAgainstTheTarget, SaysTheCurveAndTheTarget) {
    const SpokenCase& c = GetParam();
    EXPECT_EQ(ViewOfReading(c.reading, c.noteName, ".", c.target).spokenName,
              QString::fromUtf8(c.spoken));
}

LiveReading WithB(LiveReading r, double b) {
    r.fine.inharmonicity = b;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    TuningDisplay, SpokenAgainstTheTarget,
    ::testing::Values(
        SpokenCase{"Refining", WithB(Reading(54.673, -10.3, 0.4, S::Refining), 1.5e-4), "La 1",
                   CurveTarget{-12.04, 0.63},
                   "Mesure fine (provisoire) : 54.673 Hz, +1.7 cent par rapport à la courbe du "
                   "piano (± 0.4 cent, 0.8 s de son), inharmonicité 1.5 × 10⁻⁴, cible de La 1 : "
                   "-12.0 cents ± 0.6, en cours, trop haut"},
        SpokenCase{"FinalOnAFlat", Reading(77.9, 5.1, 0.5, S::Final), "Mib 2",
                   CurveTarget{1.84, 0.9},
                   "Mesure fine : 77.900 Hz, +3.3 cents par rapport à la courbe du piano (± 0.5 "
                   "cent, 0.8 s de son), cible de Mi bémol 2 : +1.8 cent ± 0.9, finale, trop "
                   "haut"},
        SpokenCase{"NoReadingYet", std::nullopt, "La 4", CurveTarget{0.0, 0.0},
                   "Aucune mesure fine, cible de La 4 : +0.0 cent ± 0.0"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Painted ----

class TargetInTheWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>(midi, capture, folder.File());
        ASSERT_TRUE(window->StartUp());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        display = window->Widgets().tuningDisplay;
    }

    TempDir folder;
    RecordingMidiOutput midi;
    FeedingCapture capture;
    std::unique_ptr<MainWindow> window;
    TuningDisplay* display = nullptr;
};

int CountOf(const QImage& image, QRgb colour, int fromRow = 0) {
    int count = 0;
    for (int y = fromRow; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
        }
    }
    return count;
}

// 20.9 c against a target of 20.5: in tune, the needle near the middle; the
// same reading against equal temperament is far out of tune.
TEST_F(TargetInTheWindow, TheNeedleAndItsColourFollowTheTarget) {
    const LiveReading reading = Reading(1780.0, 20.9, 0.3, S::Stable);
    display->Show(reading, "La 6", CurveTarget{20.5, 0.6});
    QImage image = display->grab().toImage();
    EXPECT_GT(CountOf(image, kInTuneColour), 30);
    EXPECT_EQ(CountOf(image, kOutOfTuneColour), 0);
    // Its column: 0.4 c right of the centre, on a scale of half 126 px.
    const int centre = display->width() / 2;
    const int x = centre + static_cast<int>(std::lround(ScaleOffset(0.4, 126.0)));
    int needle = 0;
    for (int column = x - 2; column <= x + 2; ++column) {
        for (int y = 30; y < 64; ++y) {
            needle += (image.pixel(column, y) & 0xFFFFFF) == (kInTuneColour & 0xFFFFFF);
        }
    }
    EXPECT_GE(needle, 12) << "no needle at x " << x;
    display->Show(reading, "La 6");
    image = display->grab().toImage();
    EXPECT_EQ(CountOf(image, kInTuneColour), 0);
    EXPECT_GT(CountOf(image, kOutOfTuneColour), 30);
}

// The target's row is the lowest: ink there with a target, none without.
TEST_F(TargetInTheWindow, TheTargetHasARowOfItsOwn) {
    const QRgb ink = display->palette().color(QPalette::WindowText).rgb();
    const int row = display->height() - 22;
    display->Show(Reading(1780.0, 20.9, 0.3, S::Stable), "La 6");
    EXPECT_EQ(CountOf(display->grab().toImage(), ink, row), 0);
    display->Show(Reading(1780.0, 20.9, 0.3, S::Stable), "La 6", CurveTarget{20.5, 0.6});
    EXPECT_GT(CountOf(display->grab().toImage(), ink, row), 15);
    // Before any reading too: the key's target, under the dash.
    display->Show(std::nullopt, "La 6", CurveTarget{20.5, 0.6});
    EXPECT_GT(CountOf(display->grab().toImage(), ink, row), 15);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(display)->text(QAccessible::Name),
              "Aucune mesure fine, cible de La 6 : +20.5 cents ± 0.6");
}

}  // namespace
}  // namespace harmolune
