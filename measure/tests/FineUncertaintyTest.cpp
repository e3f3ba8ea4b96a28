// The stated uncertainty of the fine reading and of the live reading, on
// notes whose pitch moves in a known way: a slow drift, a slow wobble, a
// sampled note's jump, an aftersound at another pitch, two and three strings
// of a unison beating, and steady tones. The truth is the pitch the note
// really had over the span each reading used, from the synthesis itself
// (testing/PitchTruth.h: the fundamental's instantaneous frequency, weighted
// by its amplitude, as windows of the note's own length hear it).
//
// Every reading must cover its error, |error| <= 2u, and state most of the
// pitch's RMS spread over its span, u >= 0.8 × spread: a reading that claims
// ± 0.01 c on beating strings fails, and so does one that weighs the spread
// as the loud part alone hears it. No reading may claim less than
// the Cramér–Rao bound of its span, and a steady tone's fine reading no more
// than 25 times that bound plus 0.005 c: a band, not only a ceiling.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "measure/FineEstimator.h"
#include "measure/LiveTuner.h"
#include "testing/PitchTruth.h"
#include "testing/StiffString.h"

namespace harmolune {
namespace {

constexpr double kRate = 32768.0;
constexpr double kSpreadFraction = 0.8;
constexpr double kSteadyBoundFactor = 25.0;
constexpr double kSteadySlackCents = 0.005;

double Cents(double f, double truth) { return 1200.0 * std::log2(f / truth); }

struct Note {
    std::vector<std::uint8_t> samples;
    std::vector<std::complex<double>> fundamental;
    double onsetSeconds = 0.0;
    double noiseLsb = 0.3;
};

Note FromMoving(const testing::MovingTone& tone) {
    const testing::PitchedSound s = testing::SynthesiseMovingTone(tone);
    return {s.samples, s.fundamental, s.onsetSeconds, tone.noiseLsb};
}

Note FromStiff(testing::StiffStringTone tone) {
    tone.keepFundamental = true;
    // The strike on a block's first sample, for the fine measurement to
    // start with that block.
    tone.leadSeconds = 4 * 4096.0 / kRate;
    const testing::StiffStringSound s = testing::SynthesiseStiffString(tone);
    return {s.samples, s.fundamental, s.strikeSeconds, tone.noiseLsb};
}

// A tone 3 c sharp of midiNote whose pitch then follows `cents`.
testing::MovingTone Moving(int midiNote, double seconds, double tau,
                           std::function<double(double)> cents) {
    testing::MovingTone tone;
    tone.hz = EqualTemperedHz(midiNote) * std::exp2(3.0 / 1200.0);
    tone.seconds = seconds;
    tone.tau = tau;
    tone.cents = std::move(cents);
    return tone;
}

double Still(double) { return 0.0; }

testing::StiffStringTone Strings(int midiNote, int strings, double second, double third,
                                 double decayScale) {
    testing::StiffStringTone tone;
    tone.midiNote = midiNote;
    tone.strings = strings;
    tone.detuneCents = {second, third};
    tone.decayScale = decayScale;
    return tone;
}

testing::StiffStringTone AftersoundAbove(double cents, double aftersoundDb) {
    testing::StiffStringTone tone;
    tone.midiNote = 96;  // C7
    tone.blockPeak = 120.0;
    tone.strings = 3;
    tone.aftersoundCents = cents;
    tone.aftersoundDb = aftersoundDb;
    return tone;
}

struct MovingCase {
    // cppcheck-suppress unusedStructMember ; the test's name, read by the name generator
    const char* name;
    int midiNote;
    bool pianoKey;
    bool steady;  // the pitch holds still: u has a ceiling too
    std::function<Note()> make;
};

const std::vector<MovingCase>& Cases() {
    static const std::vector<MovingCase> cases = {
        {"steady_E2", 40, false, true, [] { return FromMoving(Moving(40, 3.0, 0.0, Still)); }},
        {"steady_A4", 69, false, true, [] { return FromMoving(Moving(69, 3.0, 0.0, Still)); }},
        // Peak 4 in 2 LSB of noise: the bound is about 0.03 c.
        {"weak_steady_A2", 45, false, true,
         [] {
             testing::MovingTone t = Moving(45, 1.5, 0.0, Still);
             t.peak = 4.0;
             t.noiseLsb = 2.0;
             return FromMoving(t);
         }},
        {"steady_key_A4", 69, true, true, [] { return FromMoving(Moving(69, 3.0, 1.5, Still)); }},
        {"steady_key_A1", 33, true, true, [] { return FromMoving(Moving(33, 12.0, 4.0, Still)); }},
        // A string going flat as it rings, 2 c a second.
        {"drift_G3", 55, false, false,
         [] { return FromMoving(Moving(55, 3.0, 2.0, [](double t) { return -2.0 * t; })); }},
        {"drift_key_A4", 69, true, false,
         [] { return FromMoving(Moving(69, 3.0, 1.5, [](double t) { return 1.5 * t; })); }},
        // Wobbles slower than the windows: ±3 c at 0.8 Hz, ±2 c at 1.5 Hz.
        {"wobble_D3", 50, false, false,
         [] {
             return FromMoving(Moving(50, 4.0, 0.0, [](double t) {
                 return 3.0 * std::sin(2.0 * std::numbers::pi * 0.8 * t);
             }));
         }},
        {"wobble_key_C5", 72, true, false,
         [] {
             return FromMoving(Moving(72, 3.0, 2.0, [](double t) {
                 return 2.0 * std::sin(2.0 * std::numbers::pi * 1.5 * t);
             }));
         }},
        // A sampled note whose loop starts at another pitch, 9 dB down:
        // -1.6 c for a second, then +5.5 c.
        {"jump_key_E3", 52, true, false,
         [] {
             return FromMoving(Moving(52, 3.0, 1.0, [](double t) { return t < 1.0 ? -1.6 : 5.5; }));
         }},
        {"jump_E3", 52, false, false,
         [] {
             return FromMoving(Moving(52, 3.0, 1.0, [](double t) { return t < 1.0 ? -1.6 : 5.5; }));
         }},
        // C7 at a high level, its aftersound 2 c above its prompt sound.
        {"C7_aftersound_15dB_down", 96, true, false,
         [] { return FromStiff(AftersoundAbove(2.0, 15.0)); }},
        {"C7_aftersound_28dB_down", 96, true, false,
         [] { return FromStiff(AftersoundAbove(2.0, 0.0)); }},
        // Unisons out of tune enough to beat within the note: 0 and +4 c;
        // 0, +3 and -2.5 c.
        {"A4_two_strings_4c_apart", 69, true, false,
         [] { return FromStiff(Strings(69, 2, 4.0, 0.0, 2.0)); }},
        {"C4_three_strings", 60, true, false,
         [] { return FromStiff(Strings(60, 3, 3.0, -2.5, 2.5)); }},
    };
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<MovingCase>& info) { return info.param.name; }

Block BlockAt(const std::vector<std::uint8_t>& samples, std::size_t index) {
    Block block{};
    std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(index * kFrameLength), kFrameLength,
                block.begin());
    return block;
}

class FineUncertainty : public ::testing::TestWithParam<MovingCase> {};

TEST_P(FineUncertainty, CoversTheErrorAndThePitchsMovement) {
    const MovingCase& c = GetParam();
    const Note note = c.make();
    // Followed from the block where the note starts, as the cycle starts it.
    const std::size_t onsetBlock =
        static_cast<std::size_t>(std::lround(note.onsetSeconds * kRate)) / kFrameLength;
    FineEstimator fine;
    fine.Start(c.midiNote, c.pianoKey);
    for (std::size_t b = onsetBlock; (b + 1) * kFrameLength <= note.samples.size(); ++b) {
        fine.Push(BlockAt(note.samples, b));
    }
    fine.Finish();
    const std::optional<FineReading> r = fine.Reading();
    ASSERT_TRUE(r) << "no reading";

    // The span the reading used: from the end of the attack left out, for
    // its seconds; heard by windows of its own length.
    const WindowPlan plan = PlanWindows(EqualTemperedHz(c.midiNote), c.pianoKey);
    const int windowBlocks = fine.OwnWindowsRead() ? plan.windowBlocks : kDefaultWindowBlocks;
    const std::size_t from =
        (onsetBlock + static_cast<std::size_t>(plan.settleBlocks)) * kFrameLength;
    const std::size_t to = from + static_cast<std::size_t>(std::lround(r->seconds * kRate));
    ASSERT_GT(r->seconds, 0.3);
    const testing::PitchTruth truth =
        testing::SpanTruth(note.fundamental, from, to,
                           static_cast<std::size_t>(windowBlocks) * kFrameLength, note.noiseLsb);
    const double error = Cents(r->frequencyHz, truth.hz);
    const double u = r->uncertaintyCents;
    SCOPED_TRACE(::testing::Message()
                 << "error " << error << " c, stated ± " << u << " c, the pitch's spread "
                 << truth.spreadCents << " c, the bound " << truth.boundCents << " c");
    EXPECT_LE(std::abs(error), 2.0 * u);
    EXPECT_GE(u, kSpreadFraction * truth.spreadCents);
    EXPECT_GE(u, truth.boundCents);
    if (c.steady) {
        EXPECT_LE(u, kSteadyBoundFactor * truth.boundCents + kSteadySlackCents);
    }
}

INSTANTIATE_TEST_SUITE_P(Notes, FineUncertainty, ::testing::ValuesIn(Cases()), CaseName);

class LiveUncertainty : public ::testing::TestWithParam<MovingCase> {};

// Each reading the display shows while the note sounds, against the pitch
// over its own window (the last blocks, for the reading's seconds).
TEST_P(LiveUncertainty, EachWindowCoversItsErrorAndThePitchsMovement) {
    const MovingCase& c = GetParam();
    const Note note = c.make();
    LiveTuner tuner;
    tuner.Choose(c.midiNote, c.pianoKey);
    int checked = 0;
    for (std::size_t b = 0; (b + 1) * kFrameLength <= note.samples.size(); ++b) {
        tuner.Push(BlockAt(note.samples, b));
        if (!tuner.Reading()) {
            continue;
        }
        // The first strike's readings; a beating unison's swell may count
        // as a strike of its own later.
        if (tuner.Reading()->state == LiveState::Final) {
            break;
        }
        if (!tuner.Changed()) {
            continue;
        }
        const FineReading& q = tuner.Reading()->fine;
        const std::size_t end = (b + 1) * kFrameLength;
        const std::size_t begin = end - static_cast<std::size_t>(std::lround(q.seconds * kRate));
        const testing::PitchTruth truth =
            testing::WindowTruth(note.fundamental, begin, end, note.noiseLsb);
        const double error = Cents(q.frequencyHz, truth.hz);
        const double u = q.uncertaintyCents;
        SCOPED_TRACE(::testing::Message()
                     << "the window of " << q.seconds << " s ending "
                     << static_cast<double>(end) / kRate - note.onsetSeconds
                     << " s after the onset: error " << error << " c, stated ± " << u
                     << " c, the pitch's spread " << truth.spreadCents << " c, the bound "
                     << truth.boundCents << " c");
        EXPECT_LE(std::abs(error), 2.0 * u);
        EXPECT_GE(u, kSpreadFraction * truth.spreadCents);
        EXPECT_GE(u, truth.boundCents);
        ++checked;
    }
    EXPECT_GE(checked, 3);
}

INSTANTIATE_TEST_SUITE_P(Notes, LiveUncertainty, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
}  // namespace harmolune
