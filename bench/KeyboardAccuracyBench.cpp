// The fine measurement over the whole piano keyboard, on synthetic piano
// notes whose truth is known (testing/StiffString.h): every minor third from
// A0 to C8, one string at block peaks of 60, 90 and 120 with and without a
// 50 Hz hum of 2 steps, and the key's unison (two strings from F1, three from
// C3, spread by up to ±0.5 cent) at the same peaks.
//
// The truth: one string, its fundamental partial f0·√(1 + B); a unison, the
// amplitude-weighted mean of its strings' fundamentals; B, the value used.
// Prints a Markdown table (cents of error; B's error in percent), then the
// figures the targets are judged by. Then the tuning display's reading over
// the same keys (bench/LiveTable.h).
//
//   harmolune-keyboard-accuracy-bench
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bench/LiveTable.h"
#include "core/Notes.h"
#include "measure/MeasuringCycle.h"
#include "testing/StiffString.h"

namespace {

using harmolune::Block;
using harmolune::CentsBetween;
using harmolune::EqualTemperedHz;
using harmolune::FineReading;
using harmolune::kFrameLength;
using harmolune::MeasuringCycle;
namespace synth = harmolune::testing;

std::optional<FineReading> Measure(const std::vector<std::uint8_t>& samples, int midiNote) {
    MeasuringCycle cycle;
    const std::string reference = harmolune::ReferenceText(EqualTemperedHz(midiNote), ".");
    cycle.Arm(reference, midiNote, ".", true);
    Block block{};
    for (std::size_t at = 0; at + kFrameLength <= samples.size(); at += kFrameLength) {
        std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(at), kFrameLength, block.begin());
        cycle.Tick(block, reference, ".");
    }
    return cycle.Fine();
}

std::string NoteName(int midiNote) {
    static const char* const kNames[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                         "F#", "G",  "G#", "A",  "A#", "B"};
    return std::string(kNames[midiNote % 12]) + std::to_string(midiNote / 12 - 1);
}

struct Tally {
    int readings = 0;
    int missing = 0;
    int within = 0;
    double worst = 0.0;
};

struct Coverage {
    int readings = 0;
    int covered = 0;  // |error| <= 2 × the stated uncertainty
    std::string missed;

    void Add(const std::string& what, double error, double stated) {
        ++readings;
        if (std::abs(error) <= 2.0 * stated) {
            ++covered;
            return;
        }
        char line[96];
        std::snprintf(line, sizeof line, "  %s: %.3f c, stated ± %.3f c\n", what.c_str(), error,
                      stated);
        missed += line;
    }
};

int StringsOf(int midiNote) { return midiNote < 29 ? 1 : midiNote < 48 ? 2 : 3; }

}  // namespace

int main() {
    constexpr double kLevels[] = {60.0, 90.0, 120.0};
    Tally single;
    Tally unison;
    Tally inharmonicity;
    Coverage coverage;
    int fromPartials = 0;
    unsigned seed = 100;

    std::printf(
        "Synthetic piano notes (testing/StiffString.h), 8-bit, 0.3 LSB noise: fine reading's "
        "error in cents against the truth; '-' where there is none.\n\n");
    std::printf(
        "| Key | truth (Hz) | B | one string @60 | @90 | @120 | with hum @60 | @90 | @120 | "
        "B error | unison | @60 | @90 | @120 | ± (c) @90 |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (int key = 21; key <= 108; key += 3) {
        std::string cells;
        std::string humCells;
        std::string unisonCells;
        double truthHz = 0.0;
        double b = 0.0;
        double worstB = 0.0;
        bool anyB = false;
        double stated = 0.0;
        for (const bool hum : {false, true}) {
            for (const double level : kLevels) {
                synth::StiffStringTone tone;
                tone.midiNote = key;
                tone.blockPeak = level;
                tone.humLsb = hum ? 2.0 : 0.0;
                tone.seed = ++seed;
                const synth::StiffStringSound sound = synth::SynthesiseStiffString(tone);
                truthHz = sound.truthHz;
                b = sound.inharmonicity;
                const std::optional<FineReading> r = Measure(sound.samples, key);
                ++single.readings;
                char cell[32];
                if (!r) {
                    ++single.missing;
                    std::snprintf(cell, sizeof cell, " - |");
                } else {
                    const double error = CentsBetween(r->frequencyHz, sound.truthHz);
                    single.worst = std::max(single.worst, std::abs(error));
                    single.within += std::abs(error) <= 0.1 ? 1 : 0;
                    coverage.Add(NoteName(key) + (hum ? " with hum @" : " @") +
                                     std::to_string(static_cast<int>(level)),
                                 error, r->uncertaintyCents);
                    fromPartials += r->fromPartials ? 1 : 0;
                    std::snprintf(cell, sizeof cell, " %.3f%s |", error,
                                  r->fromPartials ? "*" : "");
                    if (!hum && level == 90.0) {
                        stated = r->uncertaintyCents;
                    }
                    if (key <= 96) {
                        ++inharmonicity.readings;
                        if (r->inharmonicity) {
                            const double e = 100.0 * (*r->inharmonicity / b - 1.0);
                            inharmonicity.within += std::abs(e) <= 5.0 ? 1 : 0;
                            inharmonicity.worst = std::max(inharmonicity.worst, std::abs(e));
                        } else {
                            ++inharmonicity.missing;
                        }
                    }
                    if (r->inharmonicity) {
                        const double e = 100.0 * (*r->inharmonicity / b - 1.0);
                        if (!anyB || std::abs(e) > std::abs(worstB)) {
                            worstB = e;
                        }
                        anyB = true;
                    }
                }
                (hum ? humCells : cells) += cell;
            }
        }
        const int strings = StringsOf(key);
        if (strings > 1) {
            for (const double level : kLevels) {
                synth::StiffStringTone tone;
                tone.midiNote = key;
                tone.blockPeak = level;
                tone.strings = strings;
                tone.unisonSpreadCents = 0.5;
                tone.seed = ++seed;
                const synth::StiffStringSound sound = synth::SynthesiseStiffString(tone);
                const std::optional<FineReading> r = Measure(sound.samples, key);
                ++unison.readings;
                char cell[32];
                if (!r) {
                    ++unison.missing;
                    std::snprintf(cell, sizeof cell, " - |");
                } else {
                    const double error = CentsBetween(r->frequencyHz, sound.truthHz);
                    unison.worst = std::max(unison.worst, std::abs(error));
                    unison.within += std::abs(error) <= 0.5 ? 1 : 0;
                    coverage.Add(
                        NoteName(key) + " unison @" + std::to_string(static_cast<int>(level)),
                        error, r->uncertaintyCents);
                    std::snprintf(cell, sizeof cell, " %.3f%s |", error,
                                  r->fromPartials ? "*" : "");
                }
                unisonCells += cell;
            }
        } else {
            unisonCells = " | | |";
        }
        char bCell[32] = "-";
        if (anyB) {
            std::snprintf(bCell, sizeof bCell, "%+.1f %%", worstB);
        }
        std::printf("| %s | %.4f | %.2e |%s%s %s | %s |%s %.3f |\n", NoteName(key).c_str(), truthHz,
                    b, cells.c_str(), humCells.c_str(), bCell,
                    strings > 1 ? std::to_string(strings).c_str() : "1", unisonCells.c_str(),
                    stated);
        std::fflush(stdout);
    }
    std::printf(
        "\n'*': the fundamental placed by its partials. B error: the worst of the six one-string "
        "readings.\n");
    std::printf(
        "one string, A0 to C8, every level, with and without hum: within 0.1 c in %d of %d "
        "(%d without a reading), worst %.3f c; %d placed by their partials\n",
        single.within, single.readings, single.missing, single.worst, fromPartials);
    std::printf(
        "unisons: within 0.5 c of the weighted mean in %d of %d (%d without a reading), "
        "worst %.3f c\n",
        unison.within, unison.readings, unison.missing, unison.worst);
    std::printf("B within 5 %%, A0 to C7: %d of %d (%d without B), worst %.1f %%\n",
                inharmonicity.within, inharmonicity.readings, inharmonicity.missing,
                inharmonicity.worst);
    std::printf("|error| <= 2 x stated uncertainty: %d of %d readings (%.1f %%)\n",
                coverage.covered, coverage.readings,
                coverage.readings > 0 ? 100.0 * coverage.covered / coverage.readings : 0.0);
    std::printf("%s", coverage.missed.c_str());
    harmolune::bench::PrintLiveTable(&NoteName);
    return 0;
}
