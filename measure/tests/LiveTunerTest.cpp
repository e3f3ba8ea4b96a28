// The tuning display's reading, fed block by block as the window feeds it:
// synthetic piano notes and plucked strings of known pitch, struck once or
// again while they ring, and the sounds that must start no reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "measure/LiveTuner.h"
#include "testing/StiffString.h"

namespace harmolune {
namespace {

constexpr double kBlockSeconds = 4096.0 / 32768.0;

double Cents(double f, double truth) { return 1200.0 * std::log2(f / truth); }

struct Step {
    double endSeconds;  // the block's end, from the strike
    std::optional<LiveReading> reading;
};

// Chooses the note and feeds every block; the blocks' ends are counted from
// strikeSeconds. toneAtBlock: the window plays its reference tone before
// that block.
std::vector<Step> Follow(const std::vector<std::uint8_t>& samples, int midiNote, bool pianoKey,
                         double strikeSeconds, int toneAtBlock = -1, int lostBlock = -1) {
    LiveTuner tuner;
    tuner.Choose(midiNote, pianoKey);
    std::vector<Step> steps;
    Block block{};
    for (std::size_t b = 0; (b + 1) * kFrameLength <= samples.size(); ++b) {
        if (static_cast<int>(b) == toneAtBlock) {
            tuner.ToneStarted();
        }
        if (static_cast<int>(b) == lostBlock) {
            tuner.Gap();
        } else {
            std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(b * kFrameLength),
                        kFrameLength, block.begin());
            tuner.Push(block);
        }
        steps.push_back(
            {static_cast<double>(b + 1) * kBlockSeconds - strikeSeconds, tuner.Reading()});
    }
    return steps;
}

// The reading shown at `seconds` after the strike: that of the last block
// that ended by then.
std::optional<LiveReading> At(const std::vector<Step>& steps, double seconds) {
    std::optional<LiveReading> shown;
    for (const Step& s : steps) {
        if (s.endSeconds <= seconds + 1e-9) {
            shown = s.reading;
        }
    }
    return shown;
}

double FirstReadingSeconds(const std::vector<Step>& steps) {
    for (const Step& s : steps) {
        if (s.reading && s.endSeconds > 0.0) {
            return s.endSeconds;
        }
    }
    return 1e9;
}

testing::StiffStringTone Key(int midiNote, double lead, unsigned seed, int strings = 1) {
    testing::StiffStringTone tone;
    tone.midiNote = midiNote;
    tone.blockPeak = 90.0;
    tone.leadSeconds = lead;
    tone.seed = seed;
    tone.strings = strings;
    return tone;
}

// A plucked steel string: nearly harmonic partials, measured as a guitar string.
testing::StiffStringTone Plucked(int midiNote, double lead, unsigned seed) {
    testing::StiffStringTone tone = Key(midiNote, lead, seed);
    tone.inharmonicity = 2e-5;
    tone.fundamentalDb = 0.0;
    tone.fundamentalHz = EqualTemperedHz(midiNote) * std::exp2(6.0 / 1200.0);
    return tone;
}

std::vector<std::uint8_t> Mix(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b,
                              std::size_t offset) {
    a.resize(std::max(a.size(), offset + b.size()), 128);
    for (std::size_t i = 0; i < b.size(); ++i) {
        const long v = static_cast<long>(a[offset + i]) + b[i] - 128;
        a[offset + i] = static_cast<std::uint8_t>(std::clamp(v, 0L, 255L));
    }
    return a;
}

// --- How soon, and how close -------------------------------------------

struct SoonCase {
    // cppcheck-suppress unusedStructMember ; the test's name, read by the name generator
    const char* name;
    int midiNote;
    bool pianoKey;
    double withinSeconds;  // the first reading after the strike
};

class FirstReading : public ::testing::TestWithParam<SoonCase> {};

TEST_P(FirstReading, ComesSoonAfterTheStrikeWhereverItFallsInItsBlock) {
    const SoonCase c = GetParam();
    // The strike just after a block starts (its block holds almost nothing
    // of it), then halfway through a block.
    for (const double lead : {0.5 + 0.002, 0.5 + 0.0625}) {
        const testing::StiffStringTone tone =
            c.pianoKey ? Key(c.midiNote, lead, 3) : Plucked(c.midiNote, lead, 3);
        const testing::StiffStringSound sound = testing::SynthesiseStiffString(tone);
        const std::vector<Step> steps =
            Follow(sound.samples, c.midiNote, c.pianoKey, sound.strikeSeconds);
        EXPECT_LE(FirstReadingSeconds(steps), c.withinSeconds) << "strike at " << lead << " s";
        // Nothing before the strike.
        for (const Step& s : steps) {
            if (s.endSeconds <= 0.0) {
                EXPECT_FALSE(s.reading) << "a reading " << -s.endSeconds << " s before the strike";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, FirstReading,
    ::testing::Values(SoonCase{"A0", 21, true, 0.5}, SoonCase{"Ds1", 27, true, 0.5},
                      SoonCase{"Gs1", 32, true, 0.5}, SoonCase{"A1", 33, true, 0.30},
                      SoonCase{"C3", 48, true, 0.30}, SoonCase{"A4", 69, true, 0.30},
                      SoonCase{"C6", 84, true, 0.30}, SoonCase{"C8", 108, true, 0.30},
                      SoonCase{"E2_string", 40, false, 0.30},
                      SoonCase{"G3_string", 55, false, 0.30},
                      SoonCase{"E4_string", 64, false, 0.30}),
    [](const ::testing::TestParamInfo<SoonCase>& info) { return info.param.name; });

struct CloseCase {
    // cppcheck-suppress unusedStructMember ; the test's name, read by the name generator
    const char* name;
    int midiNote;
    int strings;
    double afterSeconds;
    double withinCents;
};

class EarlyReading : public ::testing::TestWithParam<CloseCase> {};

TEST_P(EarlyReading, LiesNearThePitchAndItsUncertaintyCoversIt) {
    const CloseCase c = GetParam();
    const testing::StiffStringSound sound =
        testing::SynthesiseStiffString(Key(c.midiNote, 0.5 + 0.03, 5, c.strings));
    const std::vector<Step> steps = Follow(sound.samples, c.midiNote, true, sound.strikeSeconds);
    const std::optional<LiveReading> r = At(steps, c.afterSeconds);
    ASSERT_TRUE(r) << "no reading " << c.afterSeconds << " s after the strike";
    const double error = Cents(r->fine.frequencyHz, sound.truthHz);
    EXPECT_NEAR(error, 0.0, c.withinCents);
    EXPECT_LE(std::abs(error), 2.0 * r->fine.uncertaintyCents + 0.05);
}

INSTANTIATE_TEST_SUITE_P(Keys, EarlyReading,
                         ::testing::Values(CloseCase{"A2_half_a_second", 45, 1, 0.5, 1.0},
                                           CloseCase{"C4_half_a_second", 60, 3, 0.5, 1.0},
                                           CloseCase{"A4_half_a_second", 69, 3, 0.5, 1.0},
                                           CloseCase{"C6_half_a_second", 84, 3, 0.5, 1.0},
                                           CloseCase{"C7_half_a_second", 96, 3, 0.5, 1.0},
                                           CloseCase{"A0_one_second", 21, 1, 1.0, 3.0},
                                           CloseCase{"Fs1_one_second", 30, 2, 1.0, 3.0},
                                           CloseCase{"C8_one_second", 108, 3, 1.0, 3.0}),
                         [](const ::testing::TestParamInfo<CloseCase>& info) {
                             return info.param.name;
                         });

// --- Strikes and their ends --------------------------------------------

TEST(LiveTuner, AStrikeWhileTheNoteStillRingsStartsANewReadingAtOnce) {
    // A4 struck, then struck again 1.2 s later while it rings, 12 cents
    // sharper: the tuner has turned the pin in between.
    testing::StiffStringTone first = Key(69, 0.5, 7);
    first.fundamentalHz = 440.0;
    testing::StiffStringTone second = first;
    second.leadSeconds = 0.0;
    second.fundamentalHz = 440.0 * std::exp2(12.0 / 1200.0);
    second.seed = 8;
    const testing::StiffStringSound a = testing::SynthesiseStiffString(first);
    const testing::StiffStringSound b = testing::SynthesiseStiffString(second);
    const std::size_t at = static_cast<std::size_t>((a.strikeSeconds + 1.2) * kSampleRate);
    const std::vector<std::uint8_t> both = Mix(a.samples, b.samples, at);
    const std::vector<Step> steps = Follow(both, 69, true, a.strikeSeconds);

    const std::optional<LiveReading> before = At(steps, 1.19);
    ASSERT_TRUE(before);
    EXPECT_NEAR(Cents(before->fine.frequencyHz, a.truthHz), 0.0, 0.5);
    // The block after the one where the second strike starts already reads it.
    const double strikeBlockEnd =
        (std::floor((a.strikeSeconds + 1.2) / kBlockSeconds) + 1.0) * kBlockSeconds -
        a.strikeSeconds;
    const std::optional<LiveReading> after = At(steps, strikeBlockEnd + kBlockSeconds);
    ASSERT_TRUE(after);
    EXPECT_NEAR(Cents(after->fine.frequencyHz, b.truthHz), 0.0, 2.0)
        << "still " << Cents(after->fine.frequencyHz, a.truthHz) << " c from the first strike";
    EXPECT_LE(after->fine.seconds, 2 * kBlockSeconds);
}

TEST(LiveTuner, AUnisonsBeatsAreNoNewStrike) {
    // Two strings 4 c apart beat once a second at A4: their swells rise from
    // each dip, as a strike would, but never above the swell before.
    testing::StiffStringTone tone = Key(69, 0.5, 15, 2);
    tone.unisonSpreadCents = 4.0;
    tone.decayScale = 3.0;
    const testing::StiffStringSound sound = testing::SynthesiseStiffString(tone);
    int strikes = 0;
    bool wasNone = true;
    bool wasFinal = false;
    for (const Step& s : Follow(sound.samples, 69, true, sound.strikeSeconds)) {
        const bool none = !s.reading;
        const bool final = s.reading && s.reading->state == LiveState::Final;
        // A reading that appears, or comes back from final to refining, is a strike.
        if (s.reading && (wasNone || (wasFinal && !final))) {
            ++strikes;
        }
        wasNone = none;
        wasFinal = final;
    }
    EXPECT_EQ(strikes, 1);
}

TEST(LiveTuner, TheLastReadingIsKeptOnceTheNoteHasEndedUntilAnotherNote) {
    testing::StiffStringTone tone = Key(69, 0.4, 9);
    tone.seconds = 2.0;  // then the damper
    testing::StiffStringSound sound = testing::SynthesiseStiffString(tone);
    sound.samples.resize(sound.samples.size() + 3 * static_cast<std::size_t>(kSampleRate), 128);
    LiveTuner tuner;
    tuner.Choose(69, true);
    Block block{};
    std::optional<LiveReading> final;
    int changesAfterFinal = 0;
    for (std::size_t b = 0; (b + 1) * kFrameLength <= sound.samples.size(); ++b) {
        std::copy_n(sound.samples.begin() + static_cast<std::ptrdiff_t>(b * kFrameLength),
                    kFrameLength, block.begin());
        tuner.Push(block);
        if (final) {
            changesAfterFinal += tuner.Changed() ? 1 : 0;
            ASSERT_TRUE(tuner.Reading());
            EXPECT_EQ(tuner.Reading()->fine.frequencyHz, final->fine.frequencyHz);
        } else if (tuner.Reading() && tuner.Reading()->state == LiveState::Final) {
            final = tuner.Reading();
        }
    }
    ASSERT_TRUE(final) << "the note never ended";
    EXPECT_TRUE(final->fine.final);
    EXPECT_NEAR(Cents(final->fine.frequencyHz, sound.truthHz), 0.0, 0.1);
    EXPECT_EQ(changesAfterFinal, 0);
    tuner.Choose(71, true);
    EXPECT_FALSE(tuner.Reading());
    EXPECT_TRUE(tuner.Changed());
}

TEST(LiveTuner, ALostBlockIsNotBridgedAndTheReadingGoesOn) {
    const testing::StiffStringSound sound = testing::SynthesiseStiffString(Key(60, 0.5, 10));
    const int strikeBlock = static_cast<int>(sound.strikeSeconds / kBlockSeconds);
    const std::vector<Step> steps =
        Follow(sound.samples, 60, true, sound.strikeSeconds, -1, strikeBlock + 6);
    const std::optional<LiveReading> r = steps.back().reading;
    ASSERT_TRUE(r);
    EXPECT_NEAR(Cents(r->fine.frequencyHz, sound.truthHz), 0.0, 0.1);
}

// --- Stable ---------------------------------------------------------------

// A sine starting at frequencyHz and drifting by driftCents a second, peak
// 60, after 0.5 s of silence, for `seconds`; 0.3 LSB of noise.
std::vector<std::uint8_t> Sine(double frequencyHz, double driftCents, double seconds) {
    std::mt19937 rng(4);
    std::normal_distribution<double> noise(0.0, 0.3);
    const auto total = static_cast<std::size_t>((0.5 + seconds + 0.5) * kSampleRate);
    std::vector<std::uint8_t> out(total);
    double phase = 0.0;
    for (std::size_t n = 0; n < total; ++n) {
        const double t = static_cast<double>(n) / kSampleRate - 0.5;
        double x = 0.0;
        if (t >= 0.0 && t < seconds) {
            const double f = frequencyHz * std::exp2(driftCents * t / 1200.0);
            phase += 2.0 * M_PI * f / kSampleRate;
            x = 60.0 * std::sin(phase);
        }
        out[n] =
            static_cast<std::uint8_t>(std::clamp(std::lround(128.0 + x + noise(rng)), 0L, 255L));
    }
    return out;
}

TEST(LiveTuner, ASteadyStringBecomesStableAfterHalfASecondAndADriftingOneNever) {
    const double hz = EqualTemperedHz(64) * std::exp2(4.0 / 1200.0);
    const std::vector<Step> steady = Follow(Sine(hz, 0.0, 3.0), 64, false, 0.5);
    double first = 1e9;
    double stable = 1e9;
    for (const Step& s : steady) {
        if (s.reading) {
            first = std::min(first, s.endSeconds);
            if (s.reading->state == LiveState::Stable) {
                stable = std::min(stable, s.endSeconds);
            }
        }
    }
    EXPECT_LT(stable, 2.0) << "a steady tone never became stable";
    EXPECT_GE(stable - first, 0.5 - 1e-9);
    const std::optional<LiveReading> r = At(steady, 2.5);
    ASSERT_TRUE(r);
    EXPECT_NEAR(r->fine.cents, 4.0, 0.05);

    // The pin turned while the string sounds: the needle follows it.
    const std::vector<Step> drifting = Follow(Sine(hz, 2.0, 3.0), 64, false, 0.5);
    for (const Step& s : drifting) {
        EXPECT_FALSE(s.reading && s.reading->state == LiveState::Stable)
            << "stable at " << s.endSeconds << " s while drifting 2 c a second";
    }
    const std::optional<LiveReading> late = At(drifting, 2.5);
    ASSERT_TRUE(late);
    // Its window, the last half second, is centred 0.25 s back.
    EXPECT_NEAR(late->fine.cents, 4.0 + 2.0 * (2.5 - 0.25), 0.3);
}

// --- What starts no reading --------------------------------------------

// Speech-like: harmonics of a voice gliding from 140 to 165 Hz over 0.8 s,
// shaped by two formants, then silence.
std::vector<std::uint8_t> Voice() {
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 0.3);
    const auto total = static_cast<std::size_t>(2.5 * kSampleRate);
    std::vector<std::uint8_t> out(total);
    double phase = 0.0;
    for (std::size_t n = 0; n < total; ++n) {
        const double t = static_cast<double>(n) / kSampleRate - 0.6;
        double x = 0.0;
        if (t >= 0.0 && t < 0.8) {
            const double f0 = 140.0 + 25.0 * t / 0.8;
            phase += 2.0 * M_PI * f0 / kSampleRate;
            for (int k = 1; k * f0 < 4000.0; ++k) {
                const double f = k * f0;
                const double formants = std::exp(-std::pow((f - 500.0) / 200.0, 2)) +
                                        0.6 * std::exp(-std::pow((f - 1500.0) / 300.0, 2)) + 0.05;
                x += 25.0 * formants * std::sin(k * phase) / std::sqrt(k);
            }
        }
        out[n] =
            static_cast<std::uint8_t>(std::clamp(std::lround(128.0 + x + noise(rng)), 0L, 255L));
    }
    return out;
}

// White noise of standard deviation 30 for half a second, as a door or a
// cough, between silences.
std::vector<std::uint8_t> NoiseBurst() {
    std::mt19937 rng(6);
    std::normal_distribution<double> noise(0.0, 1.0);
    const auto total = static_cast<std::size_t>(2.0 * kSampleRate);
    std::vector<std::uint8_t> out(total);
    for (std::size_t n = 0; n < total; ++n) {
        const double t = static_cast<double>(n) / kSampleRate;
        const double sd = t > 0.6 && t < 1.1 ? 30.0 : 0.3;
        out[n] =
            static_cast<std::uint8_t>(std::clamp(std::lround(128.0 + sd * noise(rng)), 0L, 255L));
    }
    return out;
}

// The mains hum, 50 Hz with its second and third harmonics, 3 LSB, all along.
std::vector<std::uint8_t> Hum(std::vector<std::uint8_t> samples) {
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const double a = 2.0 * M_PI * 50.0 * static_cast<double>(n) / kSampleRate;
        const double v =
            samples[n] + 3.0 * (std::sin(a) + 0.4 * std::sin(2 * a) + 0.25 * std::sin(3 * a));
        samples[n] = static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
    return samples;
}

struct QuietCase {
    // cppcheck-suppress unusedStructMember ; the test's name, read by the name generator
    const char* name;
    std::vector<std::uint8_t> samples;
    int midiNote;
    bool pianoKey;
};

class NoReading : public ::testing::TestWithParam<QuietCase> {};

TEST_P(NoReading, ComesFromSoundsThatAreNotTheNoteStruck) {
    const QuietCase& c = GetParam();
    for (const Step& s : Follow(c.samples, c.midiNote, c.pianoKey, 0.0)) {
        EXPECT_FALSE(s.reading) << "a reading at " << s.endSeconds
                                << " s: " << s.reading->fine.frequencyHz << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sounds, NoReading,
    ::testing::Values(
        QuietCase{"a_voice_with_La_4", Voice(), 69, true},
        QuietCase{"a_voice_with_the_high_Mi_string", Voice(), 64, false},
        QuietCase{"a_noise_burst_with_La_4", NoiseBurst(), 69, true},
        QuietCase{"a_noise_burst_with_the_low_Mi_string", NoiseBurst(), 40, false},
        QuietCase{"the_hum_with_Sol_1",
                  Hum(std::vector<std::uint8_t>(5 * static_cast<std::size_t>(kSampleRate), 128)),
                  31, true},
        QuietCase{"the_hum_with_the_low_Mi_string",
                  Hum(std::vector<std::uint8_t>(5 * static_cast<std::size_t>(kSampleRate), 128)),
                  40, false}),
    [](const ::testing::TestParamInfo<QuietCase>& info) { return info.param.name; });

TEST(LiveTuner, TheWindowsOwnToneIsNoStrikeButAStrikeAfterItIs) {
    // The tone reaches the microphone the block after the click; the key is
    // struck 2 s later.
    const testing::StiffStringSound tone = testing::SynthesiseStiffString(Key(69, 0.5, 11));
    const int clickBlock = static_cast<int>(tone.strikeSeconds / kBlockSeconds);
    const testing::StiffStringSound key = testing::SynthesiseStiffString(Key(69, 0.0, 12));
    const std::size_t at = static_cast<std::size_t>((tone.strikeSeconds + 2.0) * kSampleRate);
    const std::vector<std::uint8_t> both = Mix(tone.samples, key.samples, at);
    const std::vector<Step> steps = Follow(both, 69, true, tone.strikeSeconds + 2.0, clickBlock);
    for (const Step& s : steps) {
        if (s.endSeconds < 0.0) {
            EXPECT_FALSE(s.reading) << "the tone read " << -s.endSeconds << " s before the strike";
        }
    }
    EXPECT_LE(FirstReadingSeconds(steps), 0.3);
}

TEST(LiveTuner, AKeyStruckUnderTheHumIsReadAndNotTheHum) {
    testing::StiffStringTone tone = Key(31, 0.8, 13);  // G1, 49 Hz
    const testing::StiffStringSound sound = testing::SynthesiseStiffString(tone);
    const std::vector<Step> steps = Follow(Hum(sound.samples), 31, true, sound.strikeSeconds);
    const std::optional<LiveReading> r = At(steps, 2.0);
    ASSERT_TRUE(r);
    EXPECT_NEAR(Cents(r->fine.frequencyHz, sound.truthHz), 0.0, 3.0);
}

TEST(LiveTuner, NothingIsReadBeforeANoteIsChosen) {
    const testing::StiffStringSound sound = testing::SynthesiseStiffString(Key(69, 0.5, 14));
    LiveTuner tuner;
    Block block{};
    for (std::size_t b = 0; (b + 1) * kFrameLength <= sound.samples.size(); ++b) {
        std::copy_n(sound.samples.begin() + static_cast<std::ptrdiff_t>(b * kFrameLength),
                    kFrameLength, block.begin());
        tuner.Push(block);
        EXPECT_FALSE(tuner.Reading());
    }
}

}  // namespace
}  // namespace harmolune
