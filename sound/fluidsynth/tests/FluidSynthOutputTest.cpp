// FluidSynth as the reference tone, rendered offline with no audio driver, so
// that what the synthesiser makes of the messages can be measured exactly:
// every click sounds at its pitch (the bank-select message after each program
// change silences nothing), the program change picks the instrument, messages
// sent while the SoundFont loads are not lost, and a missing SoundFont gives
// one line on stderr.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/Block.h"
#include "core/Notes.h"
#include "measure/MeasuringCycle.h"
#include "sound/ReferenceTone.h"
#include "sound/fluidsynth/FluidSynthOutput.h"
#include "testing/TestSoundFont.h"

namespace harmolune {
namespace {

FluidSynthOptions Offline(double gain) {
    FluidSynthOptions options = TestSoundFontOptions();
    options.audioOutput = false;
    options.sampleRateHz = kSampleRate;
    options.gain = gain;
    return options;
}

// One block of the synthesiser's output as 8-bit unsigned mono, the way the
// capture would see it played back.
Block RenderBlock(FluidSynthOutput& synth) {
    std::vector<std::int16_t> stereo(std::size_t{2} * kFrameLength);
    synth.Render(stereo.data(), kFrameLength);
    Block block;
    for (std::size_t i = 0; i < kFrameLength; ++i) {
        const double mono = (stereo[2 * i] + stereo[2 * i + 1]) / 2.0;
        block[i] = static_cast<std::uint8_t>(std::clamp(128 + std::lround(mono / 256), 0L, 255L));
    }
    return block;
}

// Measures the tone for at most 8 s, as the window does after a click on the
// sampling button; returns the measured frequency, or NaN when the
// measurement never closed.
double MeasureTone(FluidSynthOutput& synth, const NoteChoice& note) {
    MeasuringCycle cycle;
    cycle.Arm(note.referenceText);
    for (int b = 0; b < 64; ++b) {
        cycle.Tick(RenderBlock(synth), note.referenceText, ".");
        if (cycle.SamplingState() < 0) {
            return std::stod(cycle.MeasuredText());
        }
    }
    return std::nan("");
}

struct Click {
    bool isString;
    int index;   // key 0 to 11, or string index
    int octave;  // keys only
    double expectedHz;
    double toleranceHz;
};

// The window's messages, in the window's order: the set-up, then one click
// after another on the same output. Expected pitches are A = 440 Hz equal
// temperament; the guitar's low strings read a little sharp.
TEST(FluidSynthOutput, EveryClickSoundsAtItsPitch) {
    FluidSynthOutput synth(Offline(2.0));
    ReferenceTone tone(synth);
    tone.OpenMidiOutput();
    ASSERT_TRUE(synth.WaitUntilLoaded());
    const Click clicks[] = {
        {false, 9, 4, 440.0, 1.5},   // La 4: piano
        {true, 4, 0, 82.41, 1.0},    // low Mi: guitar
        {true, 9, 0, 110.0, 1.0},    // La string
        {false, 9, 4, 440.0, 1.5},   // back to the piano
        {false, 0, 5, 523.25, 1.5},  // Do 5
    };
    for (const Click& click : clicks) {
        const NoteChoice note = click.isString ? ChooseString(click.index, ".")
                                               : ChooseKey(click.index, click.octave, ".");
        tone.SoundNote(note.program, note.note);
        EXPECT_NEAR(MeasureTone(synth, note), click.expectedHz, click.toleranceHz)
            << note.name << " " << note.octaveText << " program " << note.program;
    }
    tone.CloseMidiOutput();
}

// Two seconds of one note on a fresh synthesiser after the given messages.
std::vector<std::uint8_t> Sound(const std::vector<std::uint32_t>& messages) {
    FluidSynthOutput synth(Offline(0.6));
    synth.Open();
    for (std::uint32_t m : messages) {
        synth.Send(m);
    }
    std::vector<std::uint8_t> samples;
    for (int b = 0; b < 16; ++b) {
        const Block block = RenderBlock(synth);
        samples.insert(samples.end(), block.begin(), block.end());
    }
    return samples;
}

int PeakLevel(const std::vector<std::uint8_t>& samples) {
    int level = 0;
    for (std::uint8_t s : samples) {
        level = std::max(level, std::abs(s - 128));
    }
    return level;
}

TEST(FluidSynthOutput, TheProgramChangePicksTheInstrumentAndTheBankByteChangesNothing) {
    const std::uint32_t noteOnA3 = midi::NoteOn(57);
    const auto piano = Sound({midi::ProgramChange(0), midi::kBankSelectLsb, noteOnA3});
    const auto pianoWithoutBank = Sound({midi::ProgramChange(0), noteOnA3});
    const auto guitar = Sound({midi::ProgramChange(25), midi::kBankSelectLsb, noteOnA3});
    const auto guitarWithoutBank = Sound({midi::ProgramChange(25), noteOnA3});
    const auto silence = Sound({midi::ProgramChange(0), midi::kBankSelectLsb});

    EXPECT_EQ(PeakLevel(silence), 0);
    EXPECT_GT(PeakLevel(piano), 5);
    EXPECT_GT(PeakLevel(guitar), 5);
    EXPECT_EQ(piano, pianoWithoutBank);
    EXPECT_EQ(guitar, guitarWithoutBank);
    EXPECT_NE(piano, guitar);
}

TEST(FluidSynthOutput, ANoteOffEndsTheNote) {
    const std::uint32_t program = midi::ProgramChange(25);
    const auto held = Sound({program, midi::NoteOn(64)});
    const auto released = Sound({program, midi::NoteOn(64), midi::NoteOff(64)});
    // From a quarter of a second on, the held guitar note still rings and the
    // released one has died away.
    const auto blockLevel = [](const std::vector<std::uint8_t>& samples, int b) {
        const auto first = static_cast<std::ptrdiff_t>(b) * kFrameLength;
        return PeakLevel({samples.begin() + first, samples.begin() + first + kFrameLength});
    };
    for (int b = 2; b < 6; ++b) {
        EXPECT_GE(blockLevel(held, b), 5) << "block " << b;
        EXPECT_EQ(blockLevel(released, b), 0) << "block " << b;
    }
}

TEST(FluidSynthOutput, AMissingSoundFontIsOneLineOnStderrAndNothingElse) {
    FluidSynthOptions options = Offline(0.6);
    options.soundFont = "no-such-folder/none.sf2";
    ::testing::internal::CaptureStderr();
    {
        FluidSynthOutput synth(options);
        ReferenceTone tone(synth);
        tone.OpenMidiOutput();
        EXPECT_FALSE(synth.WaitUntilLoaded());
        tone.SoundNote(0, 69);
        // Silence, but for FluidSynth's dither of one step.
        std::vector<std::int16_t> stereo(std::size_t{2} * 4096, 1000);
        synth.Render(stereo.data(), 4096);
        for (std::int16_t s : stereo) {
            ASSERT_LE(std::abs(s), 1);
        }
        tone.CloseMidiOutput();
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind("harmolune: aucune note de référence : impossible de charger la SoundFont "
                        "no-such-folder/none.sf2",
                        0),
              0U)
        << err;
}

// The loudest of half a second of what the synthesiser renders now.
int PeakOfHalfASecond(FluidSynthOutput& synth) {
    int level = 0;
    for (int b = 0; b < 4; ++b) {
        const Block block = RenderBlock(synth);
        level = std::max(level, PeakLevel({block.begin(), block.end()}));
    }
    return level;
}

// A message sent while the output is closed is dropped, not kept for the next
// Open; one sent right after Open, while the SoundFont loads, is played once
// it is in. Opening twice starts afresh, closing twice does nothing more.
TEST(FluidSynthOutput, AnyOrderOfOpenSendAndCloseIsHarmless) {
    FluidSynthOutput synth(Offline(0.6));
    synth.Send(midi::NoteOn(60));  // before Open: dropped
    synth.Close();
    synth.Open();
    EXPECT_EQ(PeakOfHalfASecond(synth), 0) << "a note sent before Open sounds";
    synth.Open();
    synth.Send(midi::NoteOn(60));
    EXPECT_GT(PeakOfHalfASecond(synth), 5) << "a note sent while loading was lost";
    synth.Close();
    synth.Close();
    synth.Send(midi::NoteOn(60));  // after Close: dropped
    synth.Open();
    EXPECT_EQ(PeakOfHalfASecond(synth), 0) << "a note sent after Close sounds";
    synth.Close();
}

}  // namespace
}  // namespace harmolune
