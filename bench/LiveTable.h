#pragma once
// The tuning display's reading over the keyboard, for the keyboard benchmark:
// synthetic piano notes (testing/StiffString.h) struck anywhere in a block,
// and plucked strings for the guitar's six, fed block by block as the window
// feeds them. Per key and level: the time from the strike to the end of the
// block that gave the first reading, the reading's error half a second and
// one second after the strike, and the final reading of the same note stopped
// 1.5 s after its strike. Errors in cents against the string's fundamental
// partial.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "core/Pitch.h"
#include "measure/LiveTuner.h"
#include "testing/StiffString.h"

namespace harmolune::bench {

struct LiveRun {
    double firstSeconds = NAN;  // NaN: no reading at all
    std::optional<double> at05;
    std::optional<double> at10;
    std::optional<double> final;  // error of the final reading, if the note ended
};

inline LiveRun FollowLive(const testing::StiffStringSound& sound, int midiNote, bool pianoKey) {
    LiveTuner tuner;
    tuner.Choose(midiNote, pianoKey);
    LiveRun run;
    Block block{};
    for (std::size_t at = 0; at + kFrameLength <= sound.samples.size(); at += kFrameLength) {
        std::copy_n(sound.samples.begin() + static_cast<std::ptrdiff_t>(at), kFrameLength,
                    block.begin());
        tuner.Push(block);
        const double end =
            static_cast<double>(at + kFrameLength) / kSampleRate - sound.strikeSeconds;
        const std::optional<LiveReading>& r = tuner.Reading();
        if (!r) {
            continue;
        }
        const double error = CentsBetween(r->fine.frequencyHz, sound.truthHz);
        if (std::isnan(run.firstSeconds)) {
            run.firstSeconds = end;
        }
        if (end <= 0.5 + 1e-9) {
            run.at05 = error;
        }
        if (end <= 1.0 + 1e-9) {
            run.at10 = error;
        }
        if (r->state == LiveState::Final && !run.final) {
            run.final = error;
        }
    }
    return run;
}

struct LiveTally {
    int count = 0;
    int met = 0;
    double worst = 0.0;
    void Add(bool ok, double value) {
        ++count;
        met += ok ? 1 : 0;
        worst = std::max(worst, value);
    }
};

inline std::string Cell(const std::optional<double>& v, const char* format = "%.2f") {
    if (!v) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, format, *v);
    return text;
}

// Prints the table and the figures the targets are judged by.
inline void PrintLiveTable(std::string (*noteName)(int)) {
    constexpr double kLevels[] = {60.0, 90.0, 120.0};
    LiveTally firstMid, firstBass, firstStrings, half, one, stopped;
    unsigned seed = 500;
    std::printf(
        "\nThe tuning display's reading (LiveTuner), strike anywhere in its block: first reading "
        "(s after the strike), error at 0.5 s and 1 s (c), and the final reading of the note "
        "stopped 1.5 s after its strike (c).\n\n");
    std::printf(
        "| Key | first @60 | 0.5 s | 1 s | first @90 | 0.5 s | 1 s | first @120 | 0.5 s | 1 s | "
        "stopped @60 | @90 | @120 |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (int key = 21; key <= 108; key += 3) {
        std::string cells;
        std::string stoppedCells;
        for (const double level : kLevels) {
            for (const bool stop : {false, true}) {
                testing::StiffStringTone tone;
                tone.midiNote = key;
                tone.blockPeak = level;
                tone.seed = ++seed;
                tone.seconds = stop ? 1.5 : 0.0;
                const testing::StiffStringSound sound = testing::SynthesiseStiffString(tone);
                const LiveRun run = FollowLive(sound, key, true);
                if (stop) {
                    stopped.Add(run.final.has_value() && std::abs(*run.final) <= 3.0,
                                run.final ? std::abs(*run.final) : 99.0);
                    stoppedCells += " " + Cell(run.final) + " |";
                    continue;
                }
                const double first = std::isnan(run.firstSeconds) ? 99.0 : run.firstSeconds;
                if (key >= 33) {
                    firstMid.Add(first <= 0.30, first);
                } else {
                    firstBass.Add(first <= 0.5, first);
                }
                if (key >= 45 && key <= 96) {
                    half.Add(run.at05 && std::abs(*run.at05) <= 1.0,
                             run.at05 ? std::abs(*run.at05) : 99.0);
                } else {
                    one.Add(run.at10 && std::abs(*run.at10) <= 3.0,
                            run.at10 ? std::abs(*run.at10) : 99.0);
                }
                cells += " " +
                         Cell(std::isnan(run.firstSeconds) ? std::nullopt
                                                           : std::optional(run.firstSeconds),
                              "%.3f") +
                         " | " + Cell(run.at05) + " | " + Cell(run.at10) + " |";
            }
        }
        std::printf("| %s |%s%s\n", noteName(key).c_str(), cells.c_str(), stoppedCells.c_str());
        std::fflush(stdout);
    }
    std::printf(
        "\n| String | first @60 | 0.5 s | 1 s | first @90 | 0.5 s | 1 s | first @120 | "
        "0.5 s | 1 s |\n|---|---|---|---|---|---|---|---|---|---|\n");
    for (const int note : {40, 45, 50, 55, 59, 64}) {
        std::string cells;
        for (const double level : kLevels) {
            // A plucked steel string: nearly harmonic, its fundamental strong.
            testing::StiffStringTone tone;
            tone.midiNote = note;
            tone.blockPeak = level;
            tone.seed = ++seed;
            tone.inharmonicity = 2e-5;
            tone.fundamentalDb = 0.0;
            tone.fundamentalHz = EqualTemperedHz(note) * std::exp2(5.0 / 1200.0);
            const testing::StiffStringSound sound = testing::SynthesiseStiffString(tone);
            const LiveRun run = FollowLive(sound, note, false);
            const double first = std::isnan(run.firstSeconds) ? 99.0 : run.firstSeconds;
            firstStrings.Add(first <= 0.30, first);
            cells +=
                " " +
                Cell(std::isnan(run.firstSeconds) ? std::nullopt : std::optional(run.firstSeconds),
                     "%.3f") +
                " | " + Cell(run.at05) + " | " + Cell(run.at10) + " |";
        }
        std::printf("| %s |%s\n", noteName(note).c_str(), cells.c_str());
    }
    std::printf("\nfirst reading within 0.30 s, A1 to C8: %d of %d, slowest %.3f s\n", firstMid.met,
                firstMid.count, firstMid.worst);
    std::printf("first reading within 0.5 s, A0 to G#1: %d of %d, slowest %.3f s\n", firstBass.met,
                firstBass.count, firstBass.worst);
    std::printf("first reading within 0.30 s, guitar strings: %d of %d, slowest %.3f s\n",
                firstStrings.met, firstStrings.count, firstStrings.worst);
    std::printf("within 1 c at 0.5 s, A2 to C7: %d of %d, worst %.2f c\n", half.met, half.count,
                half.worst);
    std::printf("within 3 c at 1 s, the other keys: %d of %d, worst %.2f c\n", one.met, one.count,
                one.worst);
    std::printf("stopped at 1.5 s, a final reading within 3 c: %d of %d, worst %.2f c\n",
                stopped.met, stopped.count, stopped.worst);
}

}  // namespace harmolune::bench
