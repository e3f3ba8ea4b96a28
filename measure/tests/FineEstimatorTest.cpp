// The fine measurement beside the measuring cycle: tones made here with a
// known frequency, fed block by block as the window feeds them.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <random>
#include <vector>

#include "core/Notes.h"
#include "measure/MeasuringCycle.h"
#include "testing/StiffString.h"

namespace harmolune {
namespace {

double Cents(double f, double truth) { return 1200.0 * std::log2(f / truth); }

// 8-bit samples: `before` seconds of silence, then a sine at frequencyHz of
// the given amplitude for `seconds`, decaying with time constant tau (0 for
// a steady tone), then 0.5 s of silence; 0.3 LSB of noise throughout.
std::vector<std::uint8_t> Tone(double frequencyHz, double seconds, double tau = 0.0,
                               double before = 0.31, double amplitude = 60.0, unsigned seed = 1) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.3);
    const auto total = static_cast<std::size_t>((before + seconds + 0.5) * kSampleRate);
    std::vector<std::uint8_t> samples(total);
    for (std::size_t n = 0; n < total; ++n) {
        const double t = static_cast<double>(n) / kSampleRate - before;
        double x = 0.0;
        if (t >= 0.0 && t < seconds) {
            const double envelope = tau > 0.0 ? std::exp(-t / tau) : 1.0;
            x = amplitude * envelope * std::sin(2.0 * M_PI * frequencyHz * t + 0.7);
        }
        samples[n] =
            static_cast<std::uint8_t>(std::clamp(std::lround(128.0 + x + noise(rng)), 0L, 255L));
    }
    return samples;
}

Block BlockAt(const std::vector<std::uint8_t>& samples, std::size_t index) {
    Block block{};
    std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(index * kFrameLength), kFrameLength,
                block.begin());
    return block;
}

// Arms a cycle for midiNote, a piano key or not, and feeds every block,
// leaving out those listed in `lost` (telling the cycle, unless `tell` is
// false).
std::optional<FineReading> FineOf(const std::vector<std::uint8_t>& samples, int midiNote,
                                  const std::vector<std::size_t>& lost = {}, bool tell = true,
                                  bool pianoKey = false) {
    MeasuringCycle cycle;
    const std::string reference = ReferenceText(EqualTemperedHz(midiNote), ".");
    EXPECT_TRUE(cycle.Arm(reference, midiNote, ".", pianoKey));
    for (std::size_t b = 0; b < samples.size() / kFrameLength; ++b) {
        if (std::find(lost.begin(), lost.end(), b) != lost.end()) {
            if (tell) {
                cycle.BlockLost();
            }
            continue;
        }
        cycle.Tick(BlockAt(samples, b), reference, ".");
    }
    return cycle.Fine();
}

TEST(FineEstimator, EqualTemperamentFromTheNoteNumber) {
    EXPECT_DOUBLE_EQ(EqualTemperedHz(69), 440.0);
    EXPECT_DOUBLE_EQ(EqualTemperedHz(57), 220.0);
    EXPECT_NEAR(EqualTemperedHz(40), 82.406889, 1e-6);  // low E of a guitar
    EXPECT_NEAR(EqualTemperedHz(108), 4186.009045, 1e-6);
}

struct PureCase {
    int midiNote;
    double detuneCents;
    double tau;  // 0: steady for 1.5 s
};

class FinePureTone : public ::testing::TestWithParam<PureCase> {};

TEST_P(FinePureTone, SettlesWithinTwoHundredthsOfACent) {
    const PureCase c = GetParam();
    const double f = EqualTemperedHz(c.midiNote) * std::exp2(c.detuneCents / 1200.0);
    const std::optional<FineReading> fine =
        FineOf(Tone(f, c.tau > 0.0 ? 5.0 : 1.5, c.tau), c.midiNote);
    ASSERT_TRUE(fine);
    EXPECT_TRUE(fine->final);
    EXPECT_NEAR(Cents(fine->frequencyHz, f), 0.0, 0.02) << fine->frequencyHz << " Hz for " << f;
    EXPECT_NEAR(fine->cents, c.detuneCents, 0.02);
    EXPECT_LT(fine->uncertaintyCents, 0.1);
    EXPECT_GT(fine->seconds, 0.4);
}

INSTANTIATE_TEST_SUITE_P(Notes, FinePureTone,
                         ::testing::Values(PureCase{28, 0.0, 0.0},      // E1, 41.2 Hz
                                           PureCase{40, 7.3, 1.5},      // E2, decaying
                                           PureCase{69, -13.0, 0.0},    // A4
                                           PureCase{84, 19.0, 1.5},     // C6, decaying
                                           PureCase{105, -4.0, 0.0}));  // A7

TEST(FineEstimator, TheAttackIsLeftOut) {
    // The first quarter second 17 cents sharp, as a plucked string starts,
    // then in tune; the phase runs on without a break.
    const double settled = 110.0;
    const double sharp = settled * std::exp2(17.0 / 1200.0);
    std::vector<std::uint8_t> samples = Tone(settled, 3.0, 1.5, 0.31, 85.0);
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 0.3);
    const auto start = static_cast<std::size_t>(0.31 * kSampleRate);
    double phase = 0.7;
    for (std::size_t n = start; n < samples.size(); ++n) {
        const double t = static_cast<double>(n - start) / kSampleRate;
        if (t >= 3.0) {
            break;
        }
        const double x = 85.0 * std::exp(-t / 1.5) * std::sin(phase);
        phase += 2.0 * M_PI * (t < 0.25 ? sharp : settled) / kSampleRate;
        samples[n] = static_cast<std::uint8_t>(std::lround(128.0 + x + noise(rng)));
    }
    const std::optional<FineReading> fine = FineOf(samples, 45);
    ASSERT_TRUE(fine);
    EXPECT_NEAR(Cents(fine->frequencyHz, settled), 0.0, 0.02);
}

TEST(FineEstimator, ALostBlockIsNotBridged) {
    const double f = 196.3;
    const std::vector<std::uint8_t> samples = Tone(f, 2.5, 0.0, 0.31, 60.0, 5);
    const std::optional<FineReading> told = FineOf(samples, 55, {9});
    ASSERT_TRUE(told);
    EXPECT_NEAR(Cents(told->frequencyHz, f), 0.0, 0.02);
    // The same blocks run together as if nothing were missing: the windows
    // over the jump in phase read elsewhere.
    const std::optional<FineReading> bridged = FineOf(samples, 55, {9}, false);
    ASSERT_TRUE(bridged);
    EXPECT_GT(std::abs(Cents(bridged->frequencyHz, f)), 0.05);
}

TEST(FineEstimator, SilenceAndNoiseGiveNoResult) {
    const std::vector<std::uint8_t> silence(static_cast<std::size_t>(5) * kSampleRate, 128);
    EXPECT_FALSE(FineOf(silence, 69));
    // White noise loud enough to start the count: no partial stands out.
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> noise(-45, 45);
    std::vector<std::uint8_t> hiss(static_cast<std::size_t>(4) * kSampleRate, 128);
    for (std::size_t n = kSampleRate / 2; n < hiss.size() - kSampleRate / 2; ++n) {
        hiss[n] = static_cast<std::uint8_t>(128 + noise(rng));
    }
    for (const int note : {40, 69, 96}) {
        EXPECT_FALSE(FineOf(hiss, note)) << note;
    }
}

TEST(FineEstimator, ArmingAgainStartsAfresh) {
    MeasuringCycle cycle;
    const std::string reference = ReferenceText(EqualTemperedHz(57), ".");
    const std::vector<std::uint8_t> first = Tone(221.0, 2.0);
    const std::vector<std::uint8_t> second = Tone(219.0, 2.0);
    ASSERT_TRUE(cycle.Arm(reference, 57));
    for (std::size_t b = 0; b < first.size() / kFrameLength; ++b) {
        cycle.Tick(BlockAt(first, b), reference, ".");
    }
    ASSERT_TRUE(cycle.Fine());
    EXPECT_NEAR(cycle.Fine()->frequencyHz, 221.0, 0.001);

    ASSERT_TRUE(cycle.Arm(reference, 57));
    EXPECT_FALSE(cycle.Fine());
    for (std::size_t b = 0; b < second.size() / kFrameLength; ++b) {
        cycle.Tick(BlockAt(second, b), reference, ".");
    }
    ASSERT_TRUE(cycle.Fine());
    EXPECT_NEAR(cycle.Fine()->frequencyHz, 219.0, 0.001);
}

TEST(FineEstimator, ProvisionalWhileTheNoteSoundsThenFinal) {
    MeasuringCycle cycle;
    const std::string reference = ReferenceText(EqualTemperedHz(69), ".");
    const std::vector<std::uint8_t> tone = Tone(440.0, 5.0, 1.5);
    ASSERT_TRUE(cycle.Arm(reference, 69));
    bool sawProvisional = false;
    bool sawResultWhileFollowing = false;
    for (std::size_t b = 0; b < tone.size() / kFrameLength; ++b) {
        cycle.Tick(BlockAt(tone, b), reference, ".");
        if (cycle.Fine() && !cycle.Fine()->final) {
            sawProvisional = true;
            // Still refining after the mean was shown, below level 32.
            sawResultWhileFollowing |= cycle.SamplingState() == -1.0;
        }
    }
    EXPECT_TRUE(sawProvisional);
    EXPECT_TRUE(sawResultWhileFollowing);
    ASSERT_TRUE(cycle.Fine());
    EXPECT_TRUE(cycle.Fine()->final);
}

TEST(FineEstimator, AnotherNoteDropsAnOpenMeasurementAndEndsAFollowedOne) {
    const std::string reference = ReferenceText(EqualTemperedHz(69), ".");
    const std::vector<std::uint8_t> tone = Tone(440.0, 5.0, 1.5);
    MeasuringCycle cycle;
    ASSERT_TRUE(cycle.Arm(reference, 69));
    std::size_t b = 0;
    // Until the mean is shown: the fine measurement is still following.
    for (; cycle.SamplingState() != -1.0 || !cycle.Fine(); ++b) {
        ASSERT_LT(b, tone.size() / kFrameLength);
        cycle.Tick(BlockAt(tone, b), reference, ".");
    }
    ASSERT_FALSE(cycle.Fine()->final);
    cycle.NoteChosen();
    ASSERT_TRUE(cycle.Fine());
    EXPECT_TRUE(cycle.Fine()->final);

    const std::vector<std::uint8_t> steady = Tone(440.0, 3.0);
    MeasuringCycle open;
    ASSERT_TRUE(open.Arm(reference, 69));
    for (std::size_t i = 0; i < 14; ++i) {
        open.Tick(BlockAt(steady, i), reference, ".");
    }
    ASSERT_GE(open.SamplingState(), 0.0);
    ASSERT_TRUE(open.Fine());
    open.NoteChosen();
    EXPECT_FALSE(open.Fine());
}

std::optional<FineReading> PianoFineOf(const std::vector<std::uint8_t>& samples, int midiNote,
                                       const std::vector<std::size_t>& lost = {},
                                       bool tell = true) {
    return FineOf(samples, midiNote, lost, tell, true);
}

struct PianoCase {
    // cppcheck-suppress unusedStructMember ; the test's name, read by the name generator
    const char* name;
    testing::StiffStringTone tone;
    double withinCents;
    bool fromPartials;  // the fundamental is too weak to be seen
};

testing::StiffStringTone PianoTone(int midiNote, double peak, unsigned seed) {
    testing::StiffStringTone tone;
    tone.midiNote = midiNote;
    tone.blockPeak = peak;
    tone.seed = seed;
    return tone;
}

class FinePianoKey : public ::testing::TestWithParam<PianoCase> {};

TEST_P(FinePianoKey, ReadsTheFundamentalPartial) {
    const PianoCase c = GetParam();
    const testing::StiffStringSound sound = testing::SynthesiseStiffString(c.tone);
    const std::optional<FineReading> fine = PianoFineOf(sound.samples, c.tone.midiNote);
    ASSERT_TRUE(fine);
    EXPECT_NEAR(Cents(fine->frequencyHz, sound.truthHz), 0.0, c.withinCents)
        << fine->frequencyHz << " Hz for " << sound.truthHz;
    EXPECT_EQ(fine->fromPartials, c.fromPartials);
    // A band for the stated uncertainty of one still string. At least the
    // allowance of a key's unison, 0.15 c (the RMS error of the keyboard
    // benchmark's unisons, whose strings beat more slowly than the note
    // lasts), and at most half a cent for a fundamental measured. Placed by
    // the partials, 1 to 4 c: a real piano's fundamental lies 0.03 to 4 c
    // from where a stiff string's partials put it.
    EXPECT_GE(fine->uncertaintyCents, c.fromPartials ? 1.0 : 0.15);
    EXPECT_LE(fine->uncertaintyCents, c.fromPartials ? 4.0 : 0.5);
    ASSERT_TRUE(fine->inharmonicity);
    EXPECT_NEAR(*fine->inharmonicity / sound.inharmonicity, 1.0, 0.05);
}

testing::StiffStringTone Silenced(testing::StiffStringTone tone) {
    tone.fundamentalDb = -200.0;
    return tone;
}

testing::StiffStringTone Short(testing::StiffStringTone tone) {
    tone.seconds = 0.6;  // then silence, as when the key is let go
    return tone;
}

INSTANTIATE_TEST_SUITE_P(Keys, FinePianoKey,
                         ::testing::Values(
                             // A0: the fundamental 35 dB below partial 2, still measured.
                             PianoCase{"A0", PianoTone(21, 90.0, 2), 0.1, false},
                             PianoCase{"C8", PianoTone(108, 90.0, 3), 0.1, false},
                             PianoCase{"C4", PianoTone(60, 60.0, 4), 0.1, false},
                             // No fundamental at all: placed by partials 2 to 16.
                             PianoCase{"F#1 without its fundamental",
                                       Silenced(PianoTone(30, 90.0, 5)), 0.1, true},
                             // The key let go after 0.6 s: the top octave still gets its reading.
                             PianoCase{"C7 let go", Short(PianoTone(96, 90.0, 6)), 0.1, false}),
                         [](const ::testing::TestParamInfo<PianoCase>& info) {
                             std::string name = info.param.name;
                             std::replace_if(
                                 name.begin(), name.end(),
                                 [](char ch) { return !std::isalnum(ch); }, '_');
                             return name;
                         });

// A bass key's windows last seconds, but a tuner may stop the string long
// before: the reading then comes from half-second windows, and says how sure
// it is.
struct StoppedCase {
    // cppcheck-suppress unusedStructMember ; the test's name, read by the name generator
    const char* name;
    int midiNote;
    bool stiffString;  // a synthetic piano note; otherwise a pure tone
    double seconds;    // of sound after the strike
    double tau;        // the pure tone's decay, 0 for a steady one
    double withinCents;
};

class StoppedBassKey : public ::testing::TestWithParam<StoppedCase> {};

TEST_P(StoppedBassKey, StillGivesAFinalReading) {
    const StoppedCase c = GetParam();
    std::vector<std::uint8_t> samples;
    double truth = 0.0;
    if (c.stiffString) {
        testing::StiffStringTone tone = PianoTone(c.midiNote, 90.0, 11);
        tone.seconds = c.seconds;
        const testing::StiffStringSound sound = testing::SynthesiseStiffString(tone);
        samples = sound.samples;
        truth = sound.truthHz;
    } else {
        // 7 cents sharp of the key.
        truth = EqualTemperedHz(c.midiNote) * std::exp2(7.0 / 1200.0);
        samples = Tone(truth, c.seconds, c.tau, 0.43, 60.0, 5);
    }
    const std::optional<FineReading> fine = PianoFineOf(samples, c.midiNote);
    ASSERT_TRUE(fine) << "no reading";
    EXPECT_TRUE(fine->final);
    const double error = Cents(fine->frequencyHz, truth);
    EXPECT_NEAR(error, 0.0, c.withinCents) << fine->frequencyHz << " Hz for " << truth;
    EXPECT_LE(std::abs(error), 2.0 * fine->uncertaintyCents);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, StoppedBassKey,
    ::testing::Values(StoppedCase{"A0_stopped", 21, true, 1.5, 0.0, 2.0},
                      StoppedCase{"C1_stopped", 24, true, 1.5, 0.0, 2.0},
                      StoppedCase{"Fs1_stopped", 30, true, 1.5, 0.0, 2.0},
                      StoppedCase{"A1_stopped", 33, true, 1.5, 0.0, 2.0},
                      StoppedCase{"Ds2_stopped", 39, true, 1.5, 0.0, 2.0},
                      StoppedCase{"G2_stopped", 43, true, 1.5, 0.0, 2.0},
                      StoppedCase{"A0_steady_tone", 21, false, 1.5, 0.0, 0.05},
                      StoppedCase{"E1_steady_tone", 28, false, 1.5, 0.0, 0.05},
                      StoppedCase{"D2_steady_tone", 38, false, 1.5, 0.0, 0.05},
                      StoppedCase{"A0_decaying_tone", 21, false, 4.0, 1.5, 0.05},
                      StoppedCase{"As1_decaying_tone", 34, false, 4.0, 1.5, 0.05}),
    [](const ::testing::TestParamInfo<StoppedCase>& info) { return info.param.name; });

TEST(FineEstimator, APianoKeysLostBlockIsNotBridged) {
    // A1's windows are four seconds long: a block lost inside one shifts the
    // phase of what follows by 0.9 of a turn.
    const double f = 55.3;
    const std::vector<std::uint8_t> samples = Tone(f, 12.0, 0.0, 0.31, 60.0, 7);
    const std::optional<FineReading> told = PianoFineOf(samples, 33, {40});
    ASSERT_TRUE(told);
    EXPECT_NEAR(Cents(told->frequencyHz, f), 0.0, 0.02);
    const std::optional<FineReading> bridged = PianoFineOf(samples, 33, {40}, false);
    ASSERT_TRUE(bridged);
    EXPECT_GT(std::abs(Cents(bridged->frequencyHz, f)), 0.05);
}

TEST(FineEstimator, APureToneHasNoInharmonicity) {
    // A piano key played as a sine: no partials, so no B to state.
    const std::optional<FineReading> fine = PianoFineOf(Tone(220.0, 3.0, 1.5), 57);
    ASSERT_TRUE(fine);
    EXPECT_NEAR(Cents(fine->frequencyHz, 220.0), 0.0, 0.02);
    EXPECT_FALSE(fine->inharmonicity);
    EXPECT_EQ(fine->partialCount, 1);
}

TEST(FineEstimator, StiffStringFitRecoversB) {
    // Partials 2, 5 and 9 of f0 = 100 Hz, B = 4e-4, computed by hand.
    const double b = 4e-4;
    std::vector<Partial> partials;
    for (const int n : {2, 5, 9}) {
        partials.push_back({n, n * 100.0 * std::sqrt(1.0 + b * n * n)});
    }
    const std::optional<StiffStringFit> fit = FitStiffString(partials.data(), 3);
    ASSERT_TRUE(fit);
    EXPECT_NEAR(fit->f0Squared, 10000.0, 1e-6);
    EXPECT_NEAR(fit->f0SquaredB / fit->f0Squared, b, 1e-12);
    EXPECT_FALSE(FitStiffString(partials.data(), 1));
}

struct TextCase {
    FineReading reading;
    const char* separator;
    const char* expected;
};

FineReading Reading(double hz, double cents, double uncertainty, double seconds, bool final,
                    std::optional<double> inharmonicity = std::nullopt, bool fromPartials = false) {
    FineReading r;
    r.frequencyHz = hz;
    r.cents = cents;
    r.uncertaintyCents = uncertainty;
    r.seconds = seconds;
    r.final = final;
    r.inharmonicity = inharmonicity;
    r.fromPartials = fromPartials;
    return r;
}

class FineText : public ::testing::TestWithParam<TextCase> {};

TEST_P(FineText, ReadsAsAMusicianWritesIt) {
    const TextCase c = GetParam();
    EXPECT_EQ(FineReadingText(c.reading, "Mi 2", c.separator), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Readings, FineText,
    ::testing::Values(
        TextCase{
            Reading(82.5371, 2.7, 0.1, 2.5, true), ",",
            "Mesure fine : 82,537 Hz, +2,7 cents par rapport à Mi 2 (± 0,1 cent, 2,5 s de son)"},
        TextCase{
            Reading(82.3, -1.234, 0.04, 1.27, false), ".",
            "Mesure fine (provisoire) : 82.300 Hz, -1.23 cent par rapport à Mi 2 (± 0.04 cent, "
            "1.3 s de son)"},
        TextCase{
            Reading(82.4, -0.001, 0.004, 3.0, true), ",",
            "Mesure fine : 82,400 Hz, +0,00 cent par rapport à Mi 2 (± 0,00 cent, 3,0 s de son)"},
        TextCase{Reading(80.0, -45.6, 2.4, 4.0, true), ",",
                 "Mesure fine : 80,000 Hz, -45,6 cents par rapport à Mi 2 (± 2,4 cents, 4,0 s de "
                 "son)"},
        // A piano key: its inharmonicity, with the user's separator.
        TextCase{Reading(27.4, -13.2, 0.4, 9.0, true, 3.04e-4), ",",
                 "Mesure fine : 27,400 Hz, -13,2 cents par rapport à Mi 2 (± 0,4 cent, 9,0 s de "
                 "son), inharmonicité 3,0 × 10⁻⁴"},
        // 9.97e-3 rounds up to the next power of ten.
        TextCase{Reading(4186.0, 2.0, 2.1, 0.5, false, 9.97e-3, true), ".",
                 "Mesure fine d'après les partiels (provisoire) : 4186.000 Hz, +2.0 cents par "
                 "rapport à Mi 2 (± 2.1 cents, 0.5 s de son), inharmonicité 1.0 × 10⁻²"}));

}  // namespace
}  // namespace harmolune
