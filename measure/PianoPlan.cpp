#include "measure/PianoPlan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace harmolune {

namespace {

// A piano key's window, by the key's equal-tempered frequency: its length
// and how often one is taken, in blocks, and the blocks left out after the
// strike.
struct PianoWindow {
    double belowHz;
    WindowPlan plan;
};
constexpr std::array<PianoWindow, 5> kPianoWindows{{
    // A0 to A♯1: the fundamental, 20 to 40 dB below partial 2, stands out of
    // the noise only over seconds, and 0.25 Hz bins keep the mains hum
    // (50 Hz) far from it. A window every second.
    {60.0, {32, 8, kDefaultSettleBlocks}},
    // Up to G2, whose fundamental lies next to the hum's second harmonic.
    {100.0, {16, 4, kDefaultSettleBlocks}},
    {kShortWindowFromHz, {4, 1, kDefaultSettleBlocks}},
    {1400.0, {2, 1, kDefaultSettleBlocks}},
    // F♯6 up: the struck sound falls 30 dB within a third of a second and the
    // attack is over in tens of milliseconds. One block (8 Hz bins, still
    // hundreds of bins between partials) from the block after the strike.
    {std::numeric_limits<double>::infinity(), {1, 1, 1}},
}};

}  // namespace

WindowPlan PlanWindows(double referenceHz, bool pianoKey) {
    if (!pianoKey) {
        WindowPlan plan;
        plan.windowBlocks =
            referenceHz >= kShortWindowFromHz ? kDefaultWindowBlocks / 2 : kDefaultWindowBlocks;
        return plan;
    }
    const PianoWindow* w = kPianoWindows.data();
    while (referenceHz >= w->belowHz) {
        ++w;
    }
    return w->plan;
}

int NoiseReach(double referenceHz, double binHz) {
    return std::max(12, static_cast<int>(0.45 * referenceHz / binHz));
}

double PriorInharmonicity(int midiNote) {
    const double key = std::clamp(midiNote, 21, 108);
    return std::pow(10.0, key <= 48 ? -3.7 : -3.7 + 1.9 * (key - 48.0) / 60.0);
}

}  // namespace harmolune
