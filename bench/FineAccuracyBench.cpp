// How near the truth each reading lands, in cents: the mean of Label1 (the
// measuring cycle) and the fine measurement, side by side.
//
// (a) Pure tones, 8-bit with 0.3 LSB of noise: A0, every E and A from E1 to
//     A7, and C8; in tune and 20 cents off each way; 20 random phases and onsets
//     each; steady for 1.5 s, or decaying with a time constant of 1.5 s.
//     The truth is the tone's own frequency.
// (b) The synthesiser's own instruments: offline FluidSynth renders at
//     32768 Hz with the window's set-up messages, the piano's C and A from C2
//     to C7 (measured as piano keys) and the six guitar strings, captured at
//     block peaks of 60, 85 and 120. The truth is the pitch of the audible sustain, measured on the
//     float render with one Hann window from 0.3 s after note-on until the
//     render's block peak falls 30 dB below its greatest (at least to 0.7 s),
//     zero-padded eight times, its peak found by a golden-section search of
//     the windowed transform.
//
//   harmolune-fine-accuracy-bench [--pure-only | --synth-only] [SOUNDFONT...]
#include <fftw3.h>
#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/Notes.h"
#include "measure/MeasuringCycle.h"

namespace {

using harmolune::Block;
using harmolune::EqualTemperedHz;
using harmolune::FineReading;
using harmolune::kFrameLength;
using harmolune::kSampleRate;
using harmolune::MeasuringCycle;

constexpr double kPi = std::numbers::pi;

double Cents(double f, double truth) { return 1200.0 * std::log2(f / truth); }

struct Readings {
    std::optional<double> meanHz;  // the mean of Label1, when it completed
    std::optional<FineReading> fine;
};

// Runs 8-bit samples through a measuring cycle armed for midiNote, a piano
// key or not, as the window does, and takes both readings at the end.
Readings Measure(const std::vector<std::uint8_t>& samples, int midiNote, bool pianoKey = false) {
    MeasuringCycle cycle;
    const std::string reference = harmolune::ReferenceText(EqualTemperedHz(midiNote), ".");
    cycle.Arm(reference, midiNote, ".", pianoKey);
    Block block{};
    for (std::size_t at = 0; at + kFrameLength <= samples.size(); at += kFrameLength) {
        std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(at), kFrameLength, block.begin());
        cycle.Tick(block, reference, ".");
    }
    Readings r;
    if (cycle.MeasuredText() != "...Hz" && !cycle.MeasuredText().empty()) {
        r.meanHz = std::stod(cycle.MeasuredText());
    }
    r.fine = cycle.Fine();
    return r;
}

std::uint8_t Quantize(double x) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(128.0 + x), 0L, 255L));
}

// ---------------------------------------------------------------- pure tones

struct PureWorst {
    double mean = 0.0;
    double fine = 0.0;
    int meanMissing = 0;
    int fineMissing = 0;
};

PureWorst PureTones(int midiNote, bool decaying, std::mt19937& rng) {
    PureWorst worst;
    std::uniform_real_distribution<double> phase(0.0, 2.0 * kPi);
    std::uniform_real_distribution<double> onset(0.3, 0.8);
    std::normal_distribution<double> noise(0.0, 0.3);
    for (const double detune : {-20.0, 0.0, 20.0}) {
        const double f = EqualTemperedHz(midiNote) * std::exp2(detune / 1200.0);
        for (int run = 0; run < 20; ++run) {
            const double start = onset(rng);
            const double length = decaying ? 6.0 : 1.5;
            const double amplitude = decaying ? 85.0 : 60.0;
            const double phi = phase(rng);
            const auto total = static_cast<std::size_t>((start + length + 0.6) * kSampleRate);
            std::vector<std::uint8_t> samples(total);
            for (std::size_t n = 0; n < total; ++n) {
                const double t = static_cast<double>(n) / kSampleRate - start;
                double x = 0.0;
                if (t >= 0.0 && t < length) {
                    const double envelope = decaying ? std::exp(-t / 1.5) : 1.0;
                    x = amplitude * envelope * std::sin(2.0 * kPi * f * t + phi);
                }
                samples[n] = Quantize(x + noise(rng));
            }
            const Readings r = Measure(samples, midiNote);
            if (r.meanHz) {
                worst.mean = std::max(worst.mean, std::abs(Cents(*r.meanHz, f)));
            } else {
                ++worst.meanMissing;
            }
            if (r.fine) {
                worst.fine = std::max(worst.fine, std::abs(Cents(r.fine->frequencyHz, f)));
            } else {
                ++worst.fineMissing;
            }
        }
    }
    return worst;
}

void RunPureTones() {
    std::printf(
        "(a) Pure tones, 8-bit, 0.3 LSB noise: worst |error| in cents over 60 tones "
        "(in tune, +-20 c; 20 phases and onsets)\n");
    std::printf("%-5s %-9s %12s %12s %8s\n", "note", "envelope", "Label1", "fine", "missing");
    std::vector<int> notes{21};  // A0
    for (int octave = 1; octave <= 7; ++octave) {
        notes.push_back(12 * (octave + 1) + 4);  // E
        notes.push_back(12 * (octave + 1) + 9);  // A
    }
    notes.push_back(108);  // C8
    std::mt19937 rng(2026);
    double worstFine = 0.0;
    double worstMean = 0.0;
    for (const int note : notes) {
        for (const bool decaying : {false, true}) {
            const PureWorst w = PureTones(note, decaying, rng);
            const int octave = note / 12 - 1;
            const char* name = note % 12 == 4 ? "E" : note % 12 == 9 ? "A" : "C";
            std::printf("%s%-4d %-9s %12.3f %12.4f %4d/%-3d\n", name, octave,
                        decaying ? "decaying" : "steady", w.mean, w.fine, w.meanMissing,
                        w.fineMissing);
            worstFine = std::max(worstFine, w.fine);
            worstMean = std::max(worstMean, w.mean);
        }
    }
    std::printf("worst |error| from A0 up: Label1 %.3f c, fine %.4f c\n\n", worstMean, worstFine);
}

// ---------------------------------------------------------- synthesiser notes

struct Render {
    std::vector<float> mono;  // from note-on
};

Render RenderNote(const std::string& soundFont, int program, int note, double seconds) {
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.gain", 0.6);
    fluid_settings_setnum(settings, "synth.sample-rate", kSampleRate);
    fluid_settings_setstr(settings, "synth.midi-bank-select", "gs");
    fluid_settings_setint(settings, "synth.reverb.active", 0);
    fluid_settings_setint(settings, "synth.chorus.active", 0);
    fluid_synth_t* synth = new_fluid_synth(settings);
    fluid_synth_sfload(synth, soundFont.c_str(), 1);
    // The window's set-up messages, then those of one click.
    fluid_synth_program_change(synth, 0, 0);
    fluid_synth_cc(synth, 0, 7, 127);
    fluid_synth_cc(synth, 0, 32, 60);
    fluid_synth_cc(synth, 0, 10, 75);
    fluid_synth_program_change(synth, 0, program);
    fluid_synth_cc(synth, 0, 32, 60);
    fluid_synth_noteoff(synth, 0, 0);
    fluid_synth_noteon(synth, 0, note, 127);
    const auto frames = static_cast<int>(seconds * kSampleRate);
    std::vector<float> left(frames);
    std::vector<float> right(frames);
    fluid_synth_write_float(synth, frames, left.data(), 0, 1, right.data(), 0, 1);
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    Render r;
    r.mono.resize(frames);
    for (int i = 0; i < frames; ++i) {
        r.mono[i] = 0.5f * (left[i] + right[i]);
    }
    return r;
}

double BlockPeak(const std::vector<float>& x, std::size_t block) {
    double peak = 0.0;
    for (std::size_t i = block * kFrameLength; i < (block + 1) * kFrameLength && i < x.size();
         ++i) {
        peak = std::max(peak, std::abs(static_cast<double>(x[i])));
    }
    return peak;
}

// |windowed transform|² of w at f hertz.
double WindowedPower(const std::vector<double>& w, double f) {
    double re = 0.0;
    double im = 0.0;
    const double step = 2.0 * kPi * f / kSampleRate;
    for (std::size_t n = 0; n < w.size(); ++n) {
        re += w[n] * std::cos(step * static_cast<double>(n));
        im -= w[n] * std::sin(step * static_cast<double>(n));
    }
    return re * re + im * im;
}

// The truth of the header, or nullopt when the render is silent in the band.
std::optional<double> SustainPitch(const Render& r, double referenceHz) {
    const std::size_t blocks = r.mono.size() / kFrameLength;
    double loudest = 0.0;
    std::size_t loudestBlock = 0;
    for (std::size_t b = 0; b < blocks; ++b) {
        if (BlockPeak(r.mono, b) > loudest) {
            loudest = BlockPeak(r.mono, b);
            loudestBlock = b;
        }
    }
    std::size_t endBlock = loudestBlock;
    while (endBlock + 1 < blocks && BlockPeak(r.mono, endBlock + 1) >= loudest * 0.0316227766) {
        ++endBlock;
    }
    const auto begin = static_cast<std::size_t>(0.3 * kSampleRate);
    const std::size_t end =
        std::max((endBlock + 1) * kFrameLength, static_cast<std::size_t>(0.7 * kSampleRate));
    const std::size_t length = end - begin;
    std::vector<double> w(length);
    for (std::size_t n = 0; n < length; ++n) {
        const double s =
            std::sin(kPi * (static_cast<double>(n) + 0.5) / static_cast<double>(length));
        w[n] = r.mono[begin + n] * s * s;
    }
    // Zero-padded eight times, then the strongest bin of the band.
    const std::size_t padded = 8 * length;
    double* in = fftw_alloc_real(padded);
    fftw_complex* out = fftw_alloc_complex(padded / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(static_cast<int>(padded), in, out, FFTW_ESTIMATE);
    std::fill(in, in + padded, 0.0);
    std::copy(w.begin(), w.end(), in);
    fftw_execute(plan);
    const double binHz = static_cast<double>(kSampleRate) / static_cast<double>(padded);
    const auto lo = static_cast<std::size_t>(std::ceil(0.9 * referenceHz / binHz));
    const auto hi = static_cast<std::size_t>(std::floor(1.1 * referenceHz / binHz));
    std::size_t peak = lo;
    double best = -1.0;
    for (std::size_t k = lo; k <= hi; ++k) {
        const double p = out[k][0] * out[k][0] + out[k][1] * out[k][1];
        if (p > best) {
            best = p;
            peak = k;
        }
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
    if (!(best > 0.0)) {
        return std::nullopt;
    }
    // Golden-section search for the top within a padded bin each side.
    double a = (static_cast<double>(peak) - 1.0) * binHz;
    double b = (static_cast<double>(peak) + 1.0) * binHz;
    const double g = (std::sqrt(5.0) - 1.0) / 2.0;
    double c = b - g * (b - a);
    double d = a + g * (b - a);
    double pc = WindowedPower(w, c);
    double pd = WindowedPower(w, d);
    while (b - a > 1e-7) {
        if (pc > pd) {
            b = d;
            d = c;
            pd = pc;
            c = b - g * (b - a);
            pc = WindowedPower(w, c);
        } else {
            a = c;
            c = d;
            pc = pd;
            d = a + g * (b - a);
            pd = WindowedPower(w, d);
        }
    }
    return 0.5 * (a + b);
}

struct SynthNote {
    const char* name;
    int program;
    int note;
    bool core;  // guitar, or piano from C2 to C6: the 0.5-cent target
};

void RunSynth(const std::string& soundFont) {
    std::vector<SynthNote> notes;
    notes.reserve(17);
    const char* pianoNames[] = {"piano C2", "piano A2", "piano C3", "piano A3",
                                "piano C4", "piano A4", "piano C5", "piano A5",
                                "piano C6", "piano A6", "piano C7"};
    const int pianoKeys[] = {36, 45, 48, 57, 60, 69, 72, 81, 84, 93, 96};
    for (int i = 0; i < 11; ++i) {
        notes.push_back(
            {pianoNames[i], harmolune::kPianoProgram, pianoKeys[i], pianoKeys[i] <= 84});
    }
    const char* guitarNames[] = {"guitar E2", "guitar A2", "guitar D3",
                                 "guitar G3", "guitar B3", "guitar E4"};
    for (int i = 0; i < 6; ++i) {
        notes.push_back(
            {guitarNames[i], harmolune::kGuitarProgram, 36 + harmolune::kStrings[i].index, true});
    }
    std::printf(
        "(b) %s: cents against the sustain's pitch (truth); '-' where a reading did not "
        "complete\n",
        std::filesystem::path(soundFont).filename().c_str());
    std::printf("%-10s %10s | %8s %8s %8s | %8s %8s %8s | %s\n", "note", "truth Hz", "L1@60",
                "L1@85", "L1@120", "fine@60", "fine@85", "fine@120", "fine ± (c), span (s)");
    int within = 0;
    int counted = 0;
    double worstCore = 0.0;
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 0.3);
    for (const SynthNote& n : notes) {
        const Render render = RenderNote(soundFont, n.program, n.note, 10.0);
        const std::optional<double> truth = SustainPitch(render, EqualTemperedHz(n.note));
        if (!truth) {
            std::printf("%-10s silent\n", n.name);
            continue;
        }
        double loudest = 0.0;
        for (std::size_t b = 0; b < render.mono.size() / kFrameLength; ++b) {
            loudest = std::max(loudest, BlockPeak(render.mono, b));
        }
        std::string meanCells;
        std::string fineCells;
        std::string spread;
        for (const double level : {60.0, 85.0, 120.0}) {
            // The note starts part of the way into a block, after silence.
            const std::size_t lead = 3 * kFrameLength + 1234;
            std::vector<std::uint8_t> samples(lead + render.mono.size());
            for (std::size_t i = 0; i < samples.size(); ++i) {
                const double x = i < lead ? 0.0 : render.mono[i - lead] * level / loudest;
                samples[i] = Quantize(x + noise(rng));
            }
            const Readings r = Measure(samples, n.note, n.program == harmolune::kPianoProgram);
            char cell[64];
            if (r.meanHz) {
                std::snprintf(cell, sizeof cell, " %8.2f", Cents(*r.meanHz, *truth));
            } else {
                std::snprintf(cell, sizeof cell, " %8s", "-");
            }
            meanCells += cell;
            if (r.fine) {
                const double error = Cents(r.fine->frequencyHz, *truth);
                std::snprintf(cell, sizeof cell, " %8.2f", error);
                if (n.core && r.meanHz) {
                    ++counted;
                    within += std::abs(error) <= 0.5 ? 1 : 0;
                    worstCore = std::max(worstCore, std::abs(error));
                }
                char s[48];
                std::snprintf(s, sizeof s, " %.2f/%.1f", r.fine->uncertaintyCents, r.fine->seconds);
                spread += s;
            } else {
                std::snprintf(cell, sizeof cell, " %8s", "-");
                if (n.core && r.meanHz) {
                    ++counted;
                }
                spread += " -";
            }
            fineCells += cell;
        }
        std::printf("%-10s %10.4f |%s |%s |%s\n", n.name, *truth, meanCells.c_str(),
                    fineCells.c_str(), spread.c_str());
    }
    std::printf(
        "guitar and piano C2-C6, where Label1 completes: fine within 0.5 c in %d of %d, "
        "worst %.2f c\n\n",
        within, counted, worstCore);
}

}  // namespace

int main(int argc, char** argv) {
    bool pure = true;
    bool synth = true;
    std::vector<std::string> soundFonts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pure-only") == 0) {
            synth = false;
        } else if (std::strcmp(argv[i], "--synth-only") == 0) {
            pure = false;
        } else {
            soundFonts.emplace_back(argv[i]);
        }
    }
    if (soundFonts.empty()) {
        for (const char* path :
             {"/usr/share/sounds/sf2/TimGM6mb.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2"}) {
            if (std::filesystem::exists(path)) {
                soundFonts.emplace_back(path);
            }
        }
    }
    if (pure) {
        RunPureTones();
    }
    if (synth) {
        for (const std::string& sf : soundFonts) {
            RunSynth(sf);
        }
    }
    return 0;
}
