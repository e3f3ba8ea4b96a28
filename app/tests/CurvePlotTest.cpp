// The curve's pane without its window: the plot's mapping from keys, cents
// and B to pixels, its axes, what it takes from a curve and lays out, and the
// table's rows and summary in words. Expected values are worked by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/CurvePane.h"
#include "app/CurvePlot.h"
#include "testing/SyntheticPiano.h"
#include "tuning/Styles.h"

namespace harmolune {
namespace {

// ---- The mapping ----

struct KeyXCase {
    int midiNote;
    double x;  // 46 + (key − 21 + 0.5) × 880 / 88
};

class KeyXTable : public ::testing::TestWithParam<KeyXCase> {};

TEST_P(KeyXTable, PutsEachKeyInTheMiddleOfItsColumn) {
    const KeyXCase& c = GetParam();
    EXPECT_DOUBLE_EQ(KeyX(c.midiNote, QRectF(46, 40, 880, 300)), c.x);
}

INSTANTIATE_TEST_SUITE_P(Plot, KeyXTable,
                         ::testing::Values(KeyXCase{21, 51.0}, KeyXCase{22, 61.0},
                                           KeyXCase{69, 531.0}, KeyXCase{108, 921.0},
                                           KeyXCase{0, 51.0},  // off the piano: at its end
                                           KeyXCase{127, 921.0}));

struct CentsYCase {
    double cents;
    double yPx;  // 300 − (cents + 20) / 50 × 200
};

class CentsYTable : public ::testing::TestWithParam<CentsYCase> {};

TEST_P(CentsYTable, RunsUpFromTheBottomAndStopsAtTheEnds) {
    const CentsYCase& c = GetParam();
    EXPECT_DOUBLE_EQ(CentsY(c.cents, -20.0, 30.0, QRectF(0, 100, 500, 200)), c.yPx);
}

INSTANTIATE_TEST_SUITE_P(Plot, CentsYTable,
                         ::testing::Values(CentsYCase{-20.0, 300.0}, CentsYCase{0.0, 220.0},
                                           CentsYCase{5.0, 200.0}, CentsYCase{30.0, 100.0},
                                           CentsYCase{45.0, 100.0}, CentsYCase{-80.0, 300.0}));

struct BYCase {
    double b;
    double y;  // 120 − (log10 b + 5) / 4 × 120
};

class BYTable : public ::testing::TestWithParam<BYCase> {};

TEST_P(BYTable, IsALogScale) {
    const BYCase& c = GetParam();
    EXPECT_NEAR(BY(c.b, -5, -1, QRectF(0, 0, 10, 120)), c.y, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Plot, BYTable,
                         ::testing::Values(BYCase{1e-5, 120.0}, BYCase{1e-3, 60.0},
                                           BYCase{1e-1, 0.0},
                                           BYCase{3e-4, 75.686362358410},  // log10 = −3.52288
                                           BYCase{1e-7, 120.0}, BYCase{0.0, 120.0},
                                           BYCase{2.0, 0.0}));

struct AxisCase {
    double lowest, highest;
    double low, high, step;
};

class AxisTable : public ::testing::TestWithParam<AxisCase> {};

TEST_P(AxisTable, TakesWholeStepsAroundZeroAndTheValues) {
    const AxisCase& c = GetParam();
    const CentsAxis axis = CentsAxisFor(c.lowest, c.highest);
    EXPECT_EQ(axis.low, c.low);
    EXPECT_EQ(axis.high, c.high);
    EXPECT_EQ(axis.step, c.step);
}

INSTANTIATE_TEST_SUITE_P(Plot, AxisTable,
                         ::testing::Values(AxisCase{0, 0, -10, 10, 5},  // never less than ±10
                                           AxisCase{-3, 4, -10, 10, 5},
                                           AxisCase{-30.2, 12, -35, 15, 5},  // 42.2 c: 9 steps of 5
                                           AxisCase{-25, 40, -30, 40,
                                                    10},  // 65 c: 13 steps of 5 are too many
                                           AxisCase{-40, 60, -40, 60, 10},  // 100 c: 10 steps of 10
                                           AxisCase{-1500, 0, -1200, 200, 200}  // held at 1200 c
                                           ));

// ---- What the plot takes from a curve ----

std::vector<tuning::MeasuredKey> EightAs() {
    return testing::MeasureSyntheticPiano(testing::EightAsAndC1(), &testing::TypicalInharmonicity,
                                          {}, 11);
}

TEST(PlotData, TakesTheTargetsTheReadingsAndTheKeysToMeasure) {
    const std::vector<tuning::MeasuredKey> readings = EightAs();
    const tuning::Curve curve = tuning::ComputeCurve(readings, *tuning::FindStyle("Standard"));
    const PlotData data = PlotDataOf(curve, readings);
    for (std::size_t i = 0; i < curve.keys.size(); ++i) {
        EXPECT_EQ(data.targetCents[i], curve.keys[i].targetCents);
        EXPECT_EQ(data.targetUncertainty[i], curve.keys[i].uncertaintyCents);
        EXPECT_EQ(data.curveB[i], curve.keys[i].inharmonicity);
    }
    ASSERT_EQ(data.measured.size(), readings.size());
    for (std::size_t i = 0; i < readings.size(); ++i) {
        const tuning::MeasuredKey& key = readings[i];
        const double equal = 440.0 * std::pow(2.0, (key.midiNote - 69) / 12.0);
        EXPECT_EQ(data.measured[i].midiNote, key.midiNote);
        EXPECT_NEAR(data.measured[i].cents, 1200.0 * std::log2(key.f1Hz / equal), 1e-9);
        EXPECT_EQ(data.measured[i].errorCents, key.uncertaintyCents);
        EXPECT_EQ(data.measured[i].inharmonicity, key.inharmonicity);
    }
    EXPECT_EQ(data.toMeasure, curve.adviceKeys);
    EXPECT_FALSE(data.toMeasure.empty());
    // The stretch and its band fit the axis.
    for (std::size_t i = 0; i < curve.keys.size(); ++i) {
        EXPECT_GE(data.targetCents[i] - data.targetUncertainty[i], data.centsLow);
        EXPECT_LE(data.targetCents[i] + data.targetUncertainty[i], data.centsHigh);
    }
    // The decades of B around every B shown, a twentieth of a decade of room
    // at each end and no empty decade.
    double least = 1.0, most = 0.0;
    for (const double b : data.curveB) {
        least = std::min(least, b);
        most = std::max(most, b);
    }
    for (const MeasuredPoint& p : data.measured) {
        if (p.inharmonicity) {
            least = std::min(least, *p.inharmonicity);
            most = std::max(most, *p.inharmonicity);
        }
    }
    EXPECT_LE(std::pow(10.0, data.bLowDecade + 0.05), least);
    EXPECT_GT(std::pow(10.0, data.bLowDecade + 1.05), least);
    EXPECT_GE(std::pow(10.0, data.bHighDecade - 0.05), most);
    EXPECT_LT(std::pow(10.0, data.bHighDecade - 1.05), most);
    // A typical grand: about 1e-4 in the tenor, 2e-2 at C8.
    EXPECT_GE(data.bLowDecade, -5);
    EXPECT_EQ(data.bHighDecade, -1);
}

TEST(PlotData, ALoneBIsShownOnTwoDecades) {
    tuning::MeasuredKey key;
    key.midiNote = 57;
    key.f1Hz = 220.0;
    key.uncertaintyCents = 0.2;
    key.inharmonicity = 3e-4;
    const std::vector<tuning::MeasuredKey> readings{key};
    const PlotData data =
        PlotDataOf(tuning::ComputeCurve(readings, tuning::Styles().front()), readings);
    EXPECT_EQ(data.bLowDecade, -4);
    EXPECT_EQ(data.bHighDecade, -2);
}

TEST(PlotData, WithoutKeysTheAxisOfBIsADefault) {
    const PlotData data = PlotDataOf(tuning::ComputeCurve({}, tuning::Styles().front()), {});
    EXPECT_TRUE(data.measured.empty());
    EXPECT_EQ(data.bLowDecade, -5);
    EXPECT_EQ(data.bHighDecade, -1);
    for (const double c : data.targetCents) {
        EXPECT_EQ(c, 0.0);
    }
}

TEST(PlotLayout, EveryShapeStandsWhereTheMappingPutsIt) {
    const std::vector<tuning::MeasuredKey> readings = EightAs();
    const PlotData data =
        PlotDataOf(tuning::ComputeCurve(readings, *tuning::FindStyle("Standard")), readings);
    const PlotShapes shapes = LayOutPlot(data, QSize(600, 500));
    // 46 px of labels at the left, 12 at the right; 40 above, 24 between,
    // 22 below; 64 % of the height for the cents.
    EXPECT_EQ(shapes.centsArea, QRectF(46, 40, 542, 264.96));
    EXPECT_EQ(shapes.bArea, QRectF(46, 328.96, 542, 149.04));
    ASSERT_EQ(shapes.target.size(), 88);
    ASSERT_EQ(shapes.band.size(), 176);
    const auto y = [&](double c) {
        return CentsY(c, data.centsLow, data.centsHigh, shapes.centsArea);
    };
    EXPECT_DOUBLE_EQ(shapes.target[48].y(), y(data.targetCents[48]));  // A4
    EXPECT_DOUBLE_EQ(shapes.target[48].x(), KeyX(69, shapes.centsArea));
    EXPECT_DOUBLE_EQ(shapes.band[0].y(), y(data.targetCents[0] + data.targetUncertainty[0]));
    EXPECT_DOUBLE_EQ(shapes.band[175].y(), y(data.targetCents[0] - data.targetUncertainty[0]));
    EXPECT_DOUBLE_EQ(shapes.zeroY, y(0.0));
    ASSERT_EQ(shapes.measured.size(), data.measured.size());
    for (std::size_t i = 0; i < shapes.measured.size(); ++i) {
        const MeasuredPoint& p = data.measured[i];
        EXPECT_DOUBLE_EQ(shapes.measured[i].point.x(), KeyX(p.midiNote, shapes.centsArea));
        EXPECT_DOUBLE_EQ(shapes.measured[i].top, y(p.cents + p.errorCents));
        EXPECT_DOUBLE_EQ(shapes.measured[i].bottom, y(p.cents - p.errorCents));
    }
    // B for every key measured up to F#6; none above, where no B is measured.
    EXPECT_EQ(shapes.bPoints.size(), 7u);
    EXPECT_EQ(shapes.bCurve.size(), 88);
    ASSERT_EQ(shapes.toMeasureX.size(), data.toMeasure.size());
    EXPECT_DOUBLE_EQ(shapes.toMeasureX[0], KeyX(data.toMeasure[0], shapes.centsArea));
    ASSERT_EQ(shapes.keyTicks.size(), 8u);
    EXPECT_EQ(shapes.keyTicks[0].second, "La 0");
    EXPECT_EQ(shapes.keyTicks[4].second, "La 4");
    EXPECT_DOUBLE_EQ(shapes.keyTicks[7].first, KeyX(105, shapes.centsArea));
    const int decades = data.bHighDecade - data.bLowDecade + 1;
    ASSERT_EQ(shapes.bTicks.size(), static_cast<std::size_t>(decades));
    EXPECT_EQ(shapes.bTicks.back().second, "10⁻¹");
    EXPECT_DOUBLE_EQ(shapes.bTicks.back().first, shapes.bArea.top());
    EXPECT_DOUBLE_EQ(shapes.bTicks.front().first, shapes.bArea.bottom());
    const auto ticks = static_cast<std::size_t>(
        std::lround((data.centsHigh - data.centsLow) / data.centsStep) + 1);
    ASSERT_EQ(shapes.centsTicks.size(), ticks);
    EXPECT_DOUBLE_EQ(shapes.centsTicks.front().first, shapes.centsArea.bottom());
    EXPECT_DOUBLE_EQ(shapes.centsTicks.back().first, shapes.centsArea.top());
}

TEST(PlotLayout, TheDecadesOfBAreLabelledAsPowersOfTen) {
    PlotData data;
    data.bLowDecade = -5;
    data.bHighDecade = -2;
    const PlotShapes shapes = LayOutPlot(data, QSize(600, 500));
    ASSERT_EQ(shapes.bTicks.size(), 4u);
    EXPECT_EQ(shapes.bTicks[0].second, "10⁻⁵");
    EXPECT_EQ(shapes.bTicks[3].second, "10⁻²");
}

TEST(PlotLayout, TheCentsAreLabelledWithTheirSign) {
    PlotData data;
    data.centsLow = -20;
    data.centsHigh = 10;
    data.centsStep = 10;
    const PlotShapes shapes = LayOutPlot(data, QSize(600, 500));
    ASSERT_EQ(shapes.centsTicks.size(), 4u);
    EXPECT_EQ(shapes.centsTicks[0].second, "−20");
    EXPECT_EQ(shapes.centsTicks[1].second, "−10");
    EXPECT_EQ(shapes.centsTicks[2].second, "0");
    EXPECT_EQ(shapes.centsTicks[3].second, "+10");
}

// ---- The table and the words ----

tuning::KeyTarget Target(int midi, double hz, double cents, double plusMinus, double b,
                         std::optional<double> measured) {
    tuning::KeyTarget key;
    key.midiNote = midi;
    key.targetHz = hz;
    key.targetCents = cents;
    key.uncertaintyCents = plusMinus;
    key.inharmonicity = b;
    key.measuredHz = measured;
    return key;
}

struct RowCase {
    const char* name;
    tuning::KeyTarget key;
    bool toMeasure;
    CurveRow row;        // under a decimal comma
    const char* spoken;  // under a decimal point
};

void PrintTo(const RowCase& c, std::ostream* os) { *os << c.name; }

class Rows : public ::testing::TestWithParam<RowCase> {};

TEST_P(Rows, SayTheKeyItsTargetAndItsReading) {
    const RowCase& c = GetParam();
    EXPECT_EQ(RowOf(c.key, c.toMeasure, ","), c.row);
    EXPECT_EQ(SpokenRow(c.key, c.toMeasure, "."), QString::fromUtf8(c.spoken));
}

INSTANTIATE_TEST_SUITE_P(
    CurvePane, Rows,
    ::testing::Values(
        // 1200 log2(440.12 / 440) = +0.472 c
        RowCase{"MeasuredAnchor", Target(69, 440.0, 0.0, 0.0, 6.0e-4, 440.12), false,
                CurveRow{"La 4", "440,000", "+0,0", "0,0", "6,0 × 10⁻⁴", "440,120", "+0,5"},
                "La 4 : cible 440.000 Hz, +0.0 cent ± 0.0, B 6.0 × 10⁻⁴, mesurée 440.120 Hz, "
                "écart +0.5 cent"},
        RowCase{"StillToMeasure", Target(39, 77.5, -3.27, 1.16, 0.0, std::nullopt), true,
                CurveRow{"Mib 2", "77,500", "−3,3", "1,2", "", "à mesurer", ""},
                "Mi bémol 2 : cible 77.500 Hz, -3.3 cents ± 1.2, à mesurer"},
        // 1200 log2(2655 / 2660.5) = −3.583 c
        RowCase{"FlatOfAStretchedTarget", Target(100, 2660.5, 25.56, 2.04, 8.1e-3, 2655.0), false,
                CurveRow{"Mi 7", "2660,500", "+25,6", "2,0", "8,1 × 10⁻³", "2655,000", "−3,6"},
                "Mi 7 : cible 2660.500 Hz, +25.6 cents ± 2.0, B 8.1 × 10⁻³, mesurée 2655.000 "
                "Hz, écart -3.6 cents"},
        RowCase{"NeitherMeasuredNorAsked", Target(22, 29.1, -19.96, 6.4, 0.0, std::nullopt), false,
                CurveRow{"Sib 0", "29,100", "−20,0", "6,4", "", "", ""},
                "Si bémol 0 : cible 29.100 Hz, -20.0 cents ± 6.4"}),
    [](const auto& info) { return std::string(info.param.name); });

tuning::MeasuredKey Measured(int midi, std::optional<double> b) {
    tuning::MeasuredKey key;
    key.midiNote = midi;
    key.f1Hz = 440.0 * std::pow(2.0, (midi - 69) / 12.0);
    key.uncertaintyCents = 0.2;
    key.inharmonicity = b;
    return key;
}

struct SummaryCase {
    const char* name;
    std::vector<tuning::MeasuredKey> readings;
    const char* style;
    const char* summary;
};

void PrintTo(const SummaryCase& c, std::ostream* os) { *os << c.name; }

class Summary : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(Summary, SaysTheStyleTheKeysAndWhatTheTargetsAre) {
    const SummaryCase& c = GetParam();
    const tuning::Curve curve = tuning::ComputeCurve(c.readings, *tuning::FindStyle(c.style));
    EXPECT_EQ(CurveSummary(curve, c.readings), QString::fromUtf8(c.summary));
}

INSTANTIATE_TEST_SUITE_P(
    CurvePane, Summary,
    ::testing::Values(
        SummaryCase{"Nothing",
                    {},
                    "Standard",
                    "Courbe du piano, style « Standard » : aucune touche mesurée ; les cibles "
                    "sont le tempérament égal"},
        SummaryCase{"OneKey",
                    {Measured(57, 2.2e-4)},
                    "Standard",
                    "Courbe du piano, style « Standard » : 1 touche mesurée, La 3 ; en attendant "
                    "4 touches sur 3 octaves, les cibles suivent les octaves 4:2"},
        SummaryCase{"NoB",
                    {Measured(100, std::nullopt), Measured(105, std::nullopt)},
                    "Douzièmes pures",
                    "Courbe du piano, style « Douzièmes pures » : 2 touches mesurées, de Mi 7 à "
                    "La 7, sans inharmonicité ; les cibles sont le tempérament égal"},
        SummaryCase{"Fitted", EightAs(), "Octaves 6:3",
                    "Courbe du piano, style « Octaves 6:3 » : 9 touches mesurées, de La 0 à La "
                    "7"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace harmolune
