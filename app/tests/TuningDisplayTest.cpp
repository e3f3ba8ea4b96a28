// The tuning display: where a reading stands on its scale, what it says in
// words under either decimal separator, its colours and the rule that picks
// them, that colour-blind users can tell those colours apart, what it paints,
// and what a screen reader calls it and is told of it.
#include <QAccessible>
#include <QImage>
#include <array>
#include <cmath>

#include "app/TuningDisplay.h"
#include "testing/WindowFixture.h"

namespace harmolune {
namespace {

using namespace testing_window;

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

// ---- The scale ----

struct OffsetCase {
    double cents;
    double halfWidthPx;
    double offsetPx;  // halfWidth · asinh(cents) / asinh(50), asinh(50) = 4.605270
};

class ScaleOffsetTable : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(ScaleOffsetTable, StretchesTheFirstCentsAndStopsAtTheEnds) {
    const OffsetCase& c = GetParam();
    EXPECT_NEAR(ScaleOffset(c.cents, c.halfWidthPx), c.offsetPx, 0.001) << c.cents << " c";
}

INSTANTIATE_TEST_SUITE_P(
    TuningDisplay, ScaleOffsetTable,
    ::testing::Values(OffsetCase{0.0, 140, 0.0}, OffsetCase{0.1, 140, 3.0350},  // asinh 0.099834
                      OffsetCase{0.5, 140, 14.6288},                            // asinh 0.481212
                      OffsetCase{1.0, 140, 26.7937},                            // asinh 0.881374
                      OffsetCase{-1.0, 140, -26.7937},
                      OffsetCase{3.4, 140, 58.9114},   // asinh 1.937932
                      OffsetCase{10.0, 140, 91.1458},  // asinh 2.998223
                      OffsetCase{-12.6, 140, -98.1437}, OffsetCase{50.0, 140, 140.0},
                      OffsetCase{80.0, 140, 140.0},  // past the end
                      OffsetCase{-80.0, 140, -140.0}, OffsetCase{1.0, 100, 19.1384}));

// ---- The words ----

struct TextCase {
    const char* name;
    const char* separator;
    LiveReading reading;
    std::optional<double> inharmonicity;
    bool fromPartials;
    const char* deviation;
    const char* uncertainty;
    const char* frequency;
    const char* state;
    const char* partials;
    const char* inharmonicityText;
    const char* verdict;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class ViewTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(ViewTexts, SayTheReadingInTheUsersSeparator) {
    const TextCase& c = GetParam();
    LiveReading reading = c.reading;
    reading.fine.inharmonicity = c.inharmonicity;
    reading.fine.fromPartials = c.fromPartials;
    const TuningView view = ViewOfReading(reading, "La 4", c.separator);
    EXPECT_FALSE(view.empty);
    EXPECT_EQ(view.deviation, QString::fromUtf8(c.deviation));
    EXPECT_EQ(view.uncertainty, QString::fromUtf8(c.uncertainty));
    EXPECT_EQ(view.frequency, QString::fromUtf8(c.frequency));
    EXPECT_EQ(view.state, QString::fromUtf8(c.state));
    EXPECT_EQ(view.fromPartials, QString::fromUtf8(c.partials));
    EXPECT_EQ(view.inharmonicity, QString::fromUtf8(c.inharmonicityText));
    EXPECT_EQ(view.verdict, QString::fromUtf8(c.verdict));
    EXPECT_EQ(view.cents, c.reading.fine.cents);
    EXPECT_EQ(view.uncertaintyCents, c.reading.fine.uncertaintyCents);
}

using S = LiveState;
INSTANTIATE_TEST_SUITE_P(
    TuningDisplay, ViewTexts,
    ::testing::Values(TextCase{"RefiningComma", ",", Reading(440.866, 3.4, 0.4, S::Refining),
                               3.1e-4, false, "+3,4 c", "± 0,4", "440,866 Hz", "en cours", "",
                               "inharmonicité 3,1 × 10⁻⁴", "trop haut"},
                      TextCase{"StableTwoDecimalsPoint",
                               ".",
                               Reading(440.030, 0.12, 0.05, S::Stable),
                               {},
                               false,
                               "+0.12 c",
                               "± 0.05",
                               "440.030 Hz",
                               "stable",
                               "",
                               "",
                               "juste"},
                      TextCase{"FinalBelowComma", ",", Reading(439.893, -0.42, 0.06, S::Final),
                               3.0e-4, false, "−0,42 c", "± 0,06", "439,893 Hz", "finale", "",
                               "inharmonicité 3,0 × 10⁻⁴", "juste"},
                      TextCase{"FromThePartials", ",", Reading(32.626, -4.1, 2.1, S::Refining),
                               2.7e-4, true, "−4,1 c", "± 2,1", "32,626 Hz", "en cours",
                               "d'après les partiels", "inharmonicité 2,7 × 10⁻⁴", "trop bas"},
                      // A string has no inharmonicity to show, even when one was fitted.
                      TextCase{"GuitarString", ".", Reading(81.809, -12.6, 0.3, S::Refining, false),
                               2.0e-4, false, "−12.6 c", "± 0.3", "81.809 Hz", "en cours", "", "",
                               "trop bas"},
                      TextCase{"NoMinusZero",
                               ".",
                               Reading(440.0, -0.04, 0.3, S::Stable),
                               {},
                               false,
                               "+0.0 c",
                               "± 0.3",
                               "440.000 Hz",
                               "stable",
                               "",
                               "",
                               "juste"},
                      TextCase{"TwoDecimalsBelowATenth",
                               ",",
                               Reading(440.5, 1.234, 0.094, S::Refining),
                               {},
                               false,
                               "+1,23 c",
                               "± 0,09",
                               "440,500 Hz",
                               "en cours",
                               "",
                               "",
                               "trop haut"},
                      TextCase{"OneDecimalFromATenth",
                               ",",
                               Reading(440.5, 1.234, 0.096, S::Refining),
                               {},
                               false,
                               "+1,2 c",
                               "± 0,1",
                               "440,500 Hz",
                               "en cours",
                               "",
                               "",
                               "trop haut"},
                      TextCase{"FarOffTheScale",
                               ".",
                               Reading(456.4, 63.24, 1.0, S::Final),
                               {},
                               false,
                               "+63.2 c",
                               "± 1.0",
                               "456.400 Hz",
                               "finale",
                               "",
                               "",
                               "trop haut"}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST(TuningDisplayView, BeforeAnyReadingItShowsADashAndIsCalledSo) {
    const TuningView view = ViewOfReading(std::nullopt, "La 4", ",");
    EXPECT_TRUE(view.empty);
    EXPECT_EQ(view.deviation, "");
    EXPECT_EQ(view.verdict, "");
    EXPECT_EQ(view.spokenName, "Aucune mesure fine");
}

// ---- The colours ----

struct ColourCase {
    double cents;
    double uncertainty;
    bool inTune;
    const char* verdict;
};

class ColourRule : public ::testing::TestWithParam<ColourCase> {};

// Green within 1 c, or within the uncertainty of zero, as the numbers show.
TEST_P(ColourRule, FollowsTheNumbersAsShown) {
    const ColourCase& c = GetParam();
    const TuningView view =
        ViewOfReading(Reading(440.0, c.cents, c.uncertainty, S::Refining), "La 4", ",");
    EXPECT_EQ(view.inTune, c.inTune)
        << view.deviation.toStdString() << " " << view.uncertainty.toStdString();
    EXPECT_EQ(view.verdict, QString::fromUtf8(c.verdict));
}

INSTANTIATE_TEST_SUITE_P(TuningDisplay, ColourRule,
                         ::testing::Values(ColourCase{1.04, 0.2, true, "juste"},       // "+1,0 c"
                                           ColourCase{1.06, 0.2, false, "trop haut"},  // "+1,1"
                                           ColourCase{-1.04, 0.2, true, "juste"},
                                           ColourCase{-1.06, 0.2, false, "trop bas"},
                                           ColourCase{-1.004, 0.05, true, "juste"},  // "1,00"
                                           ColourCase{-1.006, 0.05, false, "trop bas"},
                                           ColourCase{2.0, 2.1, true, "juste"},
                                           ColourCase{2.14, 2.1, true, "juste"},  // 2,1 ± 2,1
                                           ColourCase{2.16, 2.1, false, "trop haut"},
                                           ColourCase{-3.0, 3.04, true, "juste"},
                                           ColourCase{-3.2, 3.04, false, "trop bas"},
                                           ColourCase{0.0, 0.0, true, "juste"}));

// Machado, Oliveira and Fernandes (2009), severity 1, on linear sRGB.
using Matrix = std::array<std::array<double, 3>, 3>;
constexpr Matrix kNormal{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
constexpr Matrix kProtanopia{{{0.152286, 1.052583, -0.204868},
                              {0.114503, 0.786281, 0.099216},
                              {-0.003882, -0.048116, 1.051998}}};
constexpr Matrix kDeuteranopia{{{0.367322, 0.860646, -0.227968},
                                {0.280085, 0.672501, 0.047413},
                                {-0.011820, 0.042940, 0.968881}}};
constexpr Matrix kTritanopia{{{1.255528, -0.076749, -0.178779},
                              {-0.078411, 0.930809, 0.147602},
                              {0.004733, 0.691367, 0.303900}}};

double Linear(int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// CIELAB (D65) of the colour as a viewer with the given vision sees it.
std::array<double, 3> Lab(QRgb colour, const Matrix& vision) {
    const std::array<double, 3> rgb{Linear(qRed(colour)), Linear(qGreen(colour)),
                                    Linear(qBlue(colour))};
    std::array<double, 3> seen{};
    for (int i = 0; i < 3; ++i) {
        double v = 0.0;
        for (int j = 0; j < 3; ++j) {
            v += vision[i][j] * rgb[j];
        }
        seen[i] = std::clamp(v, 0.0, 1.0);
    }
    const double x = 0.4124 * seen[0] + 0.3576 * seen[1] + 0.1805 * seen[2];
    const double y = 0.2126 * seen[0] + 0.7152 * seen[1] + 0.0722 * seen[2];
    const double z = 0.0193 * seen[0] + 0.1192 * seen[1] + 0.9505 * seen[2];
    const auto f = [](double t) {
        return t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0;
    };
    const double fx = f(x / 0.95047), fy = f(y), fz = f(z / 1.08883);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

double Difference(QRgb a, QRgb b, const Matrix& vision) {
    const std::array<double, 3> p = Lab(a, vision), q = Lab(b, vision);
    return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
}

double ContrastOnBlack(QRgb colour) {
    const double y = 0.2126 * Linear(qRed(colour)) + 0.7152 * Linear(qGreen(colour)) +
                     0.0722 * Linear(qBlue(colour));
    return (y + 0.05) / 0.05;
}

// A difference of 20 (CIE 1976) is plain at a glance; 2.3 is barely seen.
TEST(TuningDisplayColours, InTuneAndOutOfTuneStayApartForEveryVision) {
    const std::pair<const char*, const Matrix*> visions[] = {{"normal", &kNormal},
                                                             {"protanopia", &kProtanopia},
                                                             {"deuteranopia", &kDeuteranopia},
                                                             {"tritanopia", &kTritanopia}};
    for (const auto& [name, vision] : visions) {
        EXPECT_GE(Difference(kInTuneColour, kOutOfTuneColour, *vision), 20.0) << name;
    }
    // Both read on the black display, at the contrast asked of small text.
    EXPECT_GE(ContrastOnBlack(kInTuneColour), 4.5);
    EXPECT_GE(ContrastOnBlack(kOutOfTuneColour), 4.5);
}

// The check itself tells confusable colours: the displays' plain green and
// the amber, far apart in normal vision, nearly meet under protanopia.
TEST(TuningDisplayColours, TheSimulationFindsThePlainGreenAndTheAmberAlike) {
    EXPECT_GE(Difference(qRgb(0, 192, 0), kOutOfTuneColour, kNormal), 60.0);
    EXPECT_LT(Difference(qRgb(0, 192, 0), kOutOfTuneColour, kProtanopia), 10.0);
}

// ---- In the window ----

class TuningDisplayWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>(midi, capture, folder.File());
        ASSERT_TRUE(window->StartUp());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        display = window->Widgets().tuningDisplay;
        ASSERT_NE(display, nullptr);
    }
    QString Name() const {
        return QAccessible::queryAccessibleInterface(display)->text(QAccessible::Name);
    }

    TempDir folder;
    RecordingMidiOutput midi;
    FeedingCapture capture;
    std::unique_ptr<MainWindow> window;
    TuningDisplay* display = nullptr;
};

// Counts the paints a widget gets.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

TEST_F(TuningDisplayWindow, ARepaintOnlyWhenWhatIsShownChanges) {
    const LiveReading reading = Reading(440.866, 3.4, 0.4, S::Refining);
    display->Show(reading, "La 4");
    QTest::qWait(100);
    const PaintCounter counter(*display);
    display->Show(reading, "La 4");
    // What the display does not show: the partials it was measured on.
    LiveReading morePartials = reading;
    morePartials.fine.partialCount = 5;
    display->Show(morePartials, "La 4");
    QTest::qWait(100);
    EXPECT_EQ(counter.paints, 0);
    display->Show(Reading(440.866, 3.4, 0.4, S::Stable), "La 4");
    QTest::qWait(100);
    EXPECT_EQ(counter.paints, 1);
}

// The scale's line is the row with the most of the display's green; its ends
// are the first and last pixels of it there.
struct ScaleLine {
    int row = -1, left = 0, right = 0;
};
ScaleLine FindScaleLine(const QImage& image, QRgb ink) {
    ScaleLine best;
    int most = 0;
    for (int y = 0; y < image.height(); ++y) {
        ScaleLine here{y, image.width(), -1};
        int count = 0;
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) == (ink & 0xFFFFFF)) {
                ++count;
                here.left = std::min(here.left, x);
                here.right = x;
            }
        }
        if (count > most) {
            most = count;
            best = here;
        }
    }
    return best;
}

int CountOf(const QImage& image, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
        }
    }
    return count;
}

struct NeedleCase {
    double cents;
    double uncertainty;
    QRgb colour;
    QRgb otherColour;
};

void PrintTo(const NeedleCase& c, std::ostream* os) { *os << c.cents << " c ± " << c.uncertainty; }

class Needle : public TuningDisplayWindow, public ::testing::WithParamInterface<NeedleCase> {};

TEST_P(Needle, StandsWhereTheReadingIsInTheColourOfItsRule) {
    const NeedleCase& c = GetParam();
    display->Show(Reading(440.0, c.cents, c.uncertainty, S::Refining), "La 4");
    const QImage image = display->grab().toImage();
    const ScaleLine line =
        FindScaleLine(image, display->palette().color(QPalette::WindowText).rgb());
    ASSERT_GT(line.right - line.left, 200) << "no scale found";
    const double centre = (line.left + line.right + 1) / 2.0;
    const double x = centre + ScaleOffset(c.cents, (line.right + 1 - line.left) / 2.0);
    // Some pixels of the needle's column, just above the line, in its colour.
    int needle = 0;
    for (int column = static_cast<int>(std::lround(x)) - 1; column <= std::lround(x) + 1;
         ++column) {
        for (int y = line.row - 25; y < line.row; ++y) {
            needle += (image.pixel(column, y) & 0xFFFFFF) == (c.colour & 0xFFFFFF);
        }
    }
    EXPECT_GE(needle, 12) << "no needle at x " << x;
    EXPECT_EQ(CountOf(image, c.otherColour), 0);
    // Away from it, across the scale's other side, nothing in that colour.
    int elsewhere = 0;
    const int away = x > centre ? line.left + 5 : line.right - 5;
    for (int y = line.row - 25; y < line.row; ++y) {
        elsewhere += (image.pixel(away, y) & 0xFFFFFF) == (c.colour & 0xFFFFFF);
    }
    EXPECT_EQ(elsewhere, 0);
}

INSTANTIATE_TEST_SUITE_P(TuningDisplay, Needle,
                         ::testing::Values(NeedleCase{0.5, 0.1, kInTuneColour, kOutOfTuneColour},
                                           NeedleCase{5.0, 0.3, kOutOfTuneColour, kInTuneColour},
                                           NeedleCase{-20.0, 1.0, kOutOfTuneColour, kInTuneColour},
                                           NeedleCase{-2.0, 2.5, kInTuneColour, kOutOfTuneColour}));

TEST_F(TuningDisplayWindow, BeforeAnyReadingThereIsNoNeedleAndNoColour) {
    display->Show(Reading(440.0, 5.0, 0.3, S::Refining), "La 4");
    display->Show(std::nullopt, "La 4");
    const QImage image = display->grab().toImage();
    EXPECT_EQ(CountOf(image, kInTuneColour), 0);
    EXPECT_EQ(CountOf(image, kOutOfTuneColour), 0);
    EXPECT_GT(FindScaleLine(image, display->palette().color(QPalette::WindowText).rgb()).row, 0);
}

struct NameCase {
    const char* name;
    std::optional<LiveReading> reading;
    const char* noteName;
    const char* spoken;  // under C settings
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

class AccessibleName : public TuningDisplayWindow,
                       public ::testing::WithParamInterface<NameCase> {};

TEST_P(AccessibleName, IsTheReadingInWordsWithItsStateAndVerdict) {
    const NameCase& c = GetParam();
    display->Show(c.reading, c.noteName);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(display);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->role(), QAccessible::StaticText);
    EXPECT_TRUE(a->state().focusable);
    EXPECT_EQ(a->childCount(), 0);
    EXPECT_EQ(Name(), QString::fromUtf8(c.spoken));
}

LiveReading WithPartials(LiveReading r, double b) {
    r.fine.fromPartials = true;
    r.fine.inharmonicity = b;
    return r;
}

LiveReading WithB(LiveReading r, double b) {
    r.fine.inharmonicity = b;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    TuningDisplay, AccessibleName,
    ::testing::Values(
        NameCase{"Empty", std::nullopt, "La 4", "Aucune mesure fine"},
        NameCase{"Refining", WithB(Reading(440.866, 3.4, 0.4, S::Refining, true, 0.4), 3.1e-4),
                 "La 4",
                 "Mesure fine (provisoire) : 440.866 Hz, +3.4 cents par rapport à La 4 (± 0.4 "
                 "cent, 0.4 s de son), inharmonicité 3.1 × 10⁻⁴, en cours, trop haut"},
        NameCase{"Stable", Reading(440.030, 0.12, 0.05, S::Stable, true, 1.6), "La 4",
                 "Mesure fine (provisoire) : 440.030 Hz, +0.12 cent par rapport à La 4 (± 0.05 "
                 "cent, 1.6 s de son), stable, juste"},
        NameCase{"Final", Reading(439.893, -0.42, 0.06, S::Final, true, 4.8), "La 4",
                 "Mesure fine : 439.893 Hz, -0.42 cent par rapport à La 4 (± 0.06 cent, 4.8 s "
                 "de son), finale, juste"},
        NameCase{"FromThePartials",
                 WithPartials(Reading(38.891, -4.1, 2.1, S::Refining, true, 2.5), 2.7e-4), "Mib 1",
                 "Mesure fine d'après les partiels (provisoire) : 38.891 Hz, -4.1 cents par "
                 "rapport à Mi bémol 1 (± 2.1 cents, 2.5 s de son), inharmonicité 2.7 × 10⁻⁴, en "
                 "cours, trop bas"},
        NameCase{"GuitarString", Reading(81.809, -12.6, 0.3, S::Refining, false, 0.9), "Mi 2",
                 "Mesure fine (provisoire) : 81.809 Hz, -12.6 cents par rapport à Mi 2 (± 0.3 "
                 "cent, 0.9 s de son), en cours, trop bas"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harmolune
