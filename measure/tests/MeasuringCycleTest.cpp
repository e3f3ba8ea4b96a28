// The measuring cycle: the band, the two-neighbour estimate, the state rules
// row by row, and whole ticks on synthesised blocks checked against a direct
// DFT computed here.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "core/Notes.h"
#include "measure/MeasuringCycle.h"
#include "testing/GoldenValues.h"

namespace harmolune {
namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// A sine of frequencyHz whose level (largest |sample - 128|) is exactly level.
Block Tone(double frequencyHz, int level, double phase = 0.3) {
    Block block;
    for (int t = 0; t < kFrameLength; ++t) {
        const long double x = level * sinl(2 * kPi * frequencyHz * t / kSampleRate + phase);
        block[t] = static_cast<std::uint8_t>(128 + std::lround(static_cast<double>(x)));
    }
    block[0] = static_cast<std::uint8_t>(level == 128 ? 0 : 128 + level);
    return block;
}

Block Silence() {
    Block block;
    block.fill(128);
    return block;
}

// |X(f)| of the block by direct summation.
double DirectMagnitude(const Block& block, int f) {
    long double re = 0;
    long double im = 0;
    for (int t = 0; t < kFrameLength; ++t) {
        const long double angle = 2 * kPi * ((1LL * f * t) % kFrameLength) / kFrameLength;
        re += block[t] * cosl(angle);
        im += block[t] * sinl(angle);
    }
    return static_cast<double>(sqrtl(re * re + im * im));
}

TEST(SearchBand, EdgesRoundToTheNearestBinTiesToEven) {
    struct Case {
        double reference;
        int first;
        int last;
    };
    const Case cases[] = {
        {440.0, 50, 61},  // 49.5 goes to 50; 60.500000000000007 to 61
        {261.0, 29, 36},  // the reference read from "261,63Hz" by a point-only reader
        {261.63, 29, 36},     {32.70, 4, 4},  // 3.679 and 4.496: a band of one bin
        {7902.13, 889, 1087}, {0.0, 0, 0},   {82.41, 9, 11},
        {40.0, 4, 6},  // 36 / 8 = 4.5 goes to the even 4, where rounding away from 0 gives 5
    };
    for (const Case& c : cases) {
        const std::optional<Band> band = SearchBand(c.reference);
        ASSERT_TRUE(band) << c.reference;
        EXPECT_EQ(band->first, c.first) << c.reference;
        EXPECT_EQ(band->last, c.last) << c.reference;
    }
}

TEST(SearchBand, ReferencesOutsideTheSpectrumHaveNoBand) {
    for (const double reference : {-440.0, 30000.0, 1e300, HUGE_VAL, std::nan("")}) {
        EXPECT_FALSE(SearchBand(reference)) << reference;
    }
    EXPECT_TRUE(SearchBand(29780.0));  // last bin 4095, still inside
}

TEST(NeighbourEstimate, WorkedExampleAndEdges) {
    EXPECT_DOUBLE_EQ(*NeighbourEstimate(55, 1000, 3000), 444.0);
    EXPECT_DOUBLE_EQ(*NeighbourEstimate(55, 1000, 1000), 440.0);
    EXPECT_DOUBLE_EQ(*NeighbourEstimate(50, 0, 5), 408.0);  // only the upper one weighs
    EXPECT_DOUBLE_EQ(*NeighbourEstimate(4095, 7, 0), 32752.0);
    EXPECT_FALSE(NeighbourEstimate(55, 0, 0));  // silence in both: no estimate
}

// State rules, one row per state before and level.
struct RuleCase {
    const char* what;
    double stateBefore;
    int level;
    double stateAfter;
    bool added;
    bool resultShown;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.what; }

class MeasurementRules : public ::testing::TestWithParam<RuleCase> {};

// Brings a measurement into the state asked for with accepted 440 Hz blocks.
Measurement InState(double state) {
    Measurement m;
    if (state < 0) {
        return m;
    }
    m.Arm();
    if (state == 1) {
        m.Advance(100, 440.0, ".");  // too loud: starts the count only
    }
    for (int s = 2; s <= state; ++s) {
        m.Advance(50, 440.0, ".");
    }
    EXPECT_EQ(m.SamplingState(), state);
    return m;
}

TEST_P(MeasurementRules, Row) {
    const RuleCase& c = GetParam();
    Measurement m = InState(c.stateBefore);
    const double sumBefore = m.FrequencySum();
    const std::string labelBefore = m.MeasuredText();
    m.Advance(c.level, 442.0, ".");
    EXPECT_EQ(m.SamplingState(), c.stateAfter);
    EXPECT_EQ(m.FrequencySum(), c.added ? sumBefore + 442.0 : sumBefore);
    if (c.resultShown) {
        EXPECT_EQ(m.MeasuredText(), "440.00 Hz");
    } else {
        EXPECT_EQ(m.MeasuredText(), labelBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(StateTable, MeasurementRules,
                         ::testing::Values(RuleCase{"idle, quiet", -1, 10, -1, false, false},
                                           RuleCase{"idle, accepted", -1, 50, -1, false, false},
                                           RuleCase{"idle, too loud", -1, 120, -1, false, false},
                                           RuleCase{"armed, 31", 0, 31, 0, false, false},
                                           RuleCase{"armed, 32", 0, 32, 2, true, false},
                                           RuleCase{"armed, 90", 0, 90, 2, true, false},
                                           RuleCase{"armed, 91", 0, 91, 1, false, false},
                                           RuleCase{"armed, 128", 0, 128, 1, false, false},
                                           RuleCase{"counting 1, quiet", 1, 0, 1, false, false},
                                           RuleCase{"counting 1, accepted", 1, 60, 2, true, false},
                                           RuleCase{"counting 1, too loud", 1, 91, 1, false, false},
                                           RuleCase{"counting 2, quiet", 2, 31, 2, false, false},
                                           RuleCase{"counting 2, accepted", 2, 32, 3, true, false},
                                           RuleCase{"counting 2, too loud", 2, 100, 2, false,
                                                    false},
                                           RuleCase{"counting 3, quiet", 3, 31, -1, false, true},
                                           RuleCase{"counting 3, accepted", 3, 90, 4, true, false},
                                           RuleCase{"counting 3, too loud", 3, 91, 3, false, false},
                                           RuleCase{"counting 5, silence", 5, 0, -1, false, true}));

TEST(Measurement, TwoEstimatesThenQuietShowTheirMean) {
    Measurement m;
    m.Arm();
    EXPECT_EQ(m.MeasuredText(), "...Hz");
    m.Advance(50, 440.0, ",");
    m.Advance(50, 442.0, ",");
    m.Advance(5, std::nullopt, ",");
    EXPECT_EQ(m.MeasuredText(), "441,00 Hz");
    EXPECT_EQ(m.SamplingState(), -1);
    EXPECT_EQ(m.FrequencySum(), 882.0);  // kept until the next arming
}

TEST(Measurement, ALoudFirstBlockIsNotAveraged) {
    Measurement m;
    m.Arm();
    m.Advance(100, 500.0, ".");
    m.Advance(50, 440.0, ".");
    m.Advance(50, 441.0, ".");
    m.Advance(10, 300.0, ".");
    EXPECT_EQ(m.MeasuredText(), "440.50 Hz");
}

TEST(Measurement, QuietAfterOneEstimateWaitsAndResumes) {
    Measurement m;
    m.Arm();
    m.Advance(50, 440.0, ".");
    for (int i = 0; i < 20; ++i) {
        m.Advance(3, 440.0, ".");
    }
    EXPECT_EQ(m.SamplingState(), 2);
    EXPECT_EQ(m.MeasuredText(), "...Hz");
    m.Advance(40, 444.0, ".");
    m.Advance(2, 0.0, ".");
    EXPECT_EQ(m.MeasuredText(), "442.00 Hz");
}

TEST(Measurement, AfterAResultNothingChangesUntilArmedAgain) {
    Measurement m;
    m.Arm();
    m.Advance(50, 440.0, ".");
    m.Advance(50, 440.0, ".");
    m.Advance(0, std::nullopt, ".");
    ASSERT_EQ(m.MeasuredText(), "440.00 Hz");
    m.Advance(50, 300.0, ".");
    m.Advance(50, 300.0, ".");
    m.Advance(0, std::nullopt, ".");
    EXPECT_EQ(m.MeasuredText(), "440.00 Hz");
    m.Arm();
    EXPECT_EQ(m.SamplingState(), 0);
    EXPECT_EQ(m.FrequencySum(), 0);
    EXPECT_EQ(m.MeasuredText(), "...Hz");
}

TEST(Measurement, ABlockWithoutEstimateDoesNotCount) {
    Measurement m;
    m.Arm();
    m.Advance(50, std::nullopt, ".");  // starts the count, adds nothing
    EXPECT_EQ(m.SamplingState(), 1);
    m.Advance(50, 440.0, ".");
    m.Advance(50, std::nullopt, ".");
    EXPECT_EQ(m.SamplingState(), 2);
    EXPECT_EQ(m.FrequencySum(), 440.0);
}

TEST(Measurement, ChoosingANoteDropsAnOpenMeasurementOnly) {
    Measurement counting;
    counting.Arm();
    counting.Advance(50, 440.0, ".");
    counting.NoteChosen();
    EXPECT_EQ(counting.SamplingState(), -1);
    EXPECT_EQ(counting.FrequencySum(), 0);
    EXPECT_EQ(counting.MeasuredText(), "");

    Measurement done;
    done.Arm();
    done.Advance(50, 440.0, ".");
    done.Advance(50, 440.0, ".");
    done.Advance(0, std::nullopt, ".");
    done.NoteChosen();
    EXPECT_EQ(done.MeasuredText(), "440.00 Hz");
}

TEST(MeasuringCycle, ArmingWithoutANoteChangesNothing) {
    MeasuringCycle cycle;
    EXPECT_FALSE(cycle.Arm(""));
    EXPECT_EQ(cycle.SamplingState(), -1);
    EXPECT_EQ(cycle.MeasuredText(), "");
    EXPECT_FALSE(cycle.Tick(Tone(440, 50), "", "."));
}

TEST(MeasuringCycle, TickOnA440ToneSearchesFiftyToSixtyOne) {
    MeasuringCycle cycle;
    const Block block = Tone(441.0, 60);
    const std::optional<TickReport> r = cycle.Tick(block, "440.00Hz", ".");
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->band);
    EXPECT_EQ(r->band->first, 50);
    EXPECT_EQ(r->band->last, 61);
    EXPECT_EQ(r->peakBin, 55);
    EXPECT_EQ(r->level, 60);
    const double m54 = DirectMagnitude(block, 54);
    const double m56 = DirectMagnitude(block, 56);
    ASSERT_TRUE(r->estimateHz);
    EXPECT_NEAR(*r->estimateHz, (432 * m54 + 448 * m56) / (m54 + m56), 1e-6);
}

TEST(MeasuringCycle, NeighboursOutsideASingleBinBandComeFromThisBlock) {
    // Do at octave 1 (32.70 Hz): the band is bin 4 alone, so both neighbours
    // lie outside it. An earlier block of another note leaves other values in
    // the magnitudes; the estimate must not see them.
    MeasuringCycle cycle;
    cycle.Tick(Tone(30.0, 80), "26.00Hz", ".");  // band 3 to 4 (2.93, 3.58)
    const Block block = Tone(36.0, 60);
    const std::optional<TickReport> r = cycle.Tick(block, "32.70Hz", ".");
    ASSERT_TRUE(r && r->band);
    EXPECT_EQ(r->band->first, 4);
    EXPECT_EQ(r->band->last, 4);
    EXPECT_EQ(r->peakBin, 4);
    const double m3 = DirectMagnitude(block, 3);
    const double m5 = DirectMagnitude(block, 5);
    ASSERT_TRUE(r->estimateHz);
    EXPECT_NEAR(*r->estimateHz, (24 * m3 + 40 * m5) / (m3 + m5), 1e-6);
}

TEST(MeasuringCycle, AConstantBlockHasNoEstimateAndDoesNotCount) {
    MeasuringCycle cycle;
    ASSERT_TRUE(cycle.Arm("440.00Hz"));
    Block offset;
    offset.fill(200);  // level 72, but nothing but bin 0 in its spectrum
    const std::optional<TickReport> r = cycle.Tick(offset, "440.00Hz", ".");
    EXPECT_EQ(r->level, 72);
    EXPECT_FALSE(r->estimateHz);
    EXPECT_EQ(cycle.SamplingState(), 1);
    EXPECT_EQ(cycle.FrequencySum(), 0.0);
}

TEST(MeasuringCycle, PeakOnTheLastBinHasNoUpperNeighbour) {
    // For real input bin 4095 mirrors bin 1: a slow wave peaks there in the
    // band of a reference near 30 kHz.
    MeasuringCycle cycle;
    const Block slow = Tone(9.0, 50);
    const std::optional<TickReport> r = cycle.Tick(slow, "29780.00Hz", ".");
    ASSERT_TRUE(r && r->band);
    EXPECT_EQ(r->band->last, 4095);
    EXPECT_EQ(r->peakBin, 4095);
    ASSERT_TRUE(r->estimateHz);
    EXPECT_EQ(*r->estimateHz, 4094.0 * 8);
}

TEST(MeasuringCycle, DecimalCommaIsReadBackWithTheSeparatorThatWroteIt) {
    // Find a note whose band differs between its whole reference and its
    // whole-number part: a point-only reader of "...,..Hz" would search the
    // wrong bins there.
    int checked = 0;
    for (int octave = -1; octave <= 8; ++octave) {
        for (int key = 0; key < 12; ++key) {
            const NoteChoice note = ChooseKey(key, octave, ",");
            const double full = std::stod(ChooseKey(key, octave, ".").referenceText);
            const int first = static_cast<int>(std::nearbyint(full * 0.9 / 8));
            const int last = static_cast<int>(std::nearbyint(full * 1.1 / 8));
            const int firstWhole = static_cast<int>(std::nearbyint(std::floor(full) * 0.9 / 8));
            const int lastWhole = static_cast<int>(std::nearbyint(std::floor(full) * 1.1 / 8));
            if (first == firstWhole && last == lastWhole) {
                continue;
            }
            MeasuringCycle cycle;
            const std::optional<TickReport> r = cycle.Tick(Silence(), note.referenceText, ",");
            ASSERT_TRUE(r && r->band);
            EXPECT_EQ(r->band->first, first) << note.referenceText;
            EXPECT_EQ(r->band->last, last) << note.referenceText;
            ++checked;
        }
    }
    EXPECT_GT(checked, 0);
}

TEST(MeasuringCycle, AWholeMeasurementOfAPureToneReadsItsFrequency) {
    MeasuringCycle cycle;
    ASSERT_TRUE(cycle.Arm("440.00Hz"));
    EXPECT_EQ(cycle.MeasuredText(), "...Hz");
    for (int i = 0; i < 4; ++i) {
        cycle.Tick(Tone(441.3, 60, 0.7 * i), "440.00Hz", ".");
    }
    EXPECT_EQ(cycle.SamplingState(), 5);
    cycle.Tick(Silence(), "440.00Hz", ".");
    EXPECT_EQ(cycle.SamplingState(), -1);
    ASSERT_EQ(cycle.MeasuredText().substr(cycle.MeasuredText().size() - 3), " Hz");
    EXPECT_NEAR(std::stod(cycle.MeasuredText()), 441.3, 0.3);
}

// The window skips the blocks the cycle calls inert. A cycle that skips them
// must read exactly as one that ticks every block, at every step: before the
// sound, through the count, while the fine measurement follows the decay,
// after the result, and armed again.
TEST(MeasuringCycle, SkippingInertBlocksChangesNoReading) {
    std::vector<Block> blocks;
    const auto add = [&](int count, double hz, int level) {
        for (int i = 0; i < count; ++i) {
            blocks.push_back(level == 0 ? Silence() : Tone(hz, level, 0.9 * blocks.size()));
        }
    };
    add(2, 0, 0);        // armed, silent
    add(2, 441.3, 20);   // armed, too quiet to start
    add(10, 441.3, 60);  // counted
    for (int level : {40, 25, 12, 6, 3, 2}) {
        add(1, 441.3, level);  // the result, then the decay the fine measurement follows
    }
    add(4, 0, 0);
    add(3, 452.0, 70);  // after the result, a loud other sound
    const std::size_t rearm = blocks.size();
    add(2, 0, 0);
    add(5, 439.0, 50);
    add(3, 0, 0);

    MeasuringCycle all;
    MeasuringCycle skipping;
    ASSERT_TRUE(all.Arm("440.00Hz"));
    ASSERT_TRUE(skipping.Arm("440.00Hz"));
    int inert = 0;
    bool followed = false;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (i == rearm) {
            ASSERT_TRUE(all.Arm("440.00Hz"));
            ASSERT_TRUE(skipping.Arm("440.00Hz"));
        }
        all.Tick(blocks[i], "440.00Hz", ".");
        if (skipping.Inert(blocks[i])) {
            ++inert;
        } else {
            skipping.Tick(blocks[i], "440.00Hz", ".");
        }
        SCOPED_TRACE("block " + std::to_string(i));
        ASSERT_EQ(skipping.SamplingState(), all.SamplingState());
        ASSERT_EQ(skipping.FrequencySum(), all.FrequencySum());
        ASSERT_EQ(skipping.MeasuredText(), all.MeasuredText());
        const std::optional<FineReading> a = all.Fine();
        const std::optional<FineReading> b = skipping.Fine();
        ASSERT_EQ(b.has_value(), a.has_value());
        if (a) {
            EXPECT_EQ(b->frequencyHz, a->frequencyHz);
            EXPECT_EQ(b->final, a->final);
            followed = true;
        }
    }
    // The two silent and two quiet blocks before the sound, the three after
    // the result, the two before the second sound, at least.
    EXPECT_GE(inert, 9);
    EXPECT_TRUE(followed);
}

TEST(MeasuringCycle, ReferencesOutsideTheSpectrumAreHarmless) {
    MeasuringCycle cycle;
    ASSERT_TRUE(cycle.Arm("x"));
    for (const char* reference : {"-440Hz", "1e308Hz", "99999Hz", "nanHz", "Hz"}) {
        const std::optional<TickReport> r = cycle.Tick(Tone(440, 50), reference, ".");
        ASSERT_TRUE(r) << reference;
        EXPECT_FALSE(r->estimateHz && !std::isfinite(*r->estimateHz)) << reference;
    }
    EXPECT_TRUE(std::isfinite(cycle.FrequencySum()));
}

// Exact bits from testing/golden_values.py, a model of the tick in
// Python that no compiler flag of this build reaches.
TEST(MeasuringCycle, TicksGiveTheBitsOfTheModelWrittenInPython) {
    for (const golden::Tick& g : golden::kTicks) {
        SCOPED_TRACE(golden::kWaves[g.wave].name);
        MeasuringCycle cycle;
        const std::optional<TickReport> r =
            cycle.Tick(golden::MakeBlock(golden::kWaves[g.wave]), g.reference, ".");
        ASSERT_TRUE(r && r->band && r->estimateHz);
        EXPECT_EQ(r->level, g.level);
        EXPECT_EQ(r->band->first, g.first);
        EXPECT_EQ(r->band->last, g.last);
        EXPECT_EQ(r->peakBin, g.peak);
        EXPECT_EQ(*r->estimateHz, g.estimateHz);
    }
    MeasuringCycle cycle;
    ASSERT_TRUE(cycle.Arm("440.00Hz"));
    for (int wave : {0, 1, 2}) {
        cycle.Tick(golden::MakeBlock(golden::kWaves[wave]), "440.00Hz", ".");
    }
    EXPECT_EQ(cycle.SamplingState(), 4.0);
    EXPECT_EQ(cycle.FrequencySum(), golden::kLaFrequencySum);
}

}  // namespace
}  // namespace harmolune
