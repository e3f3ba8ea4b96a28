#pragma once
// How the fine measurement windows a note: the length of its window, how often
// one is taken and how many blocks of the attack are left out, chosen by the
// note's frequency. A piano key gets a window scaled to the note, from 4 s in
// the low bass to one block in the top octave; any other note half a second,
// a quarter from C5 up. Standard library only.

namespace harmolune {

// The longest window: 4 s, 32 blocks, for the lowest piano keys.
inline constexpr int kMaxWindowBlocks = 32;
// Window of a guitar string or of a note not known to be a piano key: 0.5 s
// (half of that from kShortWindowFromHz up).
inline constexpr int kDefaultWindowBlocks = 4;
// Blocks left out after the block where the sound starts, before the first
// window may begin: the attack of a struck or plucked string.
inline constexpr int kDefaultSettleBlocks = 3;
// From the C an octave above middle C, half a second of sound decays too much
// to give enough windows: two blocks (4 Hz bins) resolve these notes.
inline constexpr double kShortWindowFromHz = 500.0;

struct WindowPlan {
    int windowBlocks = kDefaultWindowBlocks;  // 1 to kMaxWindowBlocks, a power of two
    int hopBlocks = 1;                        // blocks between the ends of two windows
    int settleBlocks = kDefaultSettleBlocks;  // blocks of the attack left out
};

// The plan for a note of referenceHz hertz, a piano key or not.
WindowPlan PlanWindows(double referenceHz, bool pianoKey);

// Bins each side of a piano's partial where its noise is taken: between it and
// its neighbours, never on them; at least 12.
int NoiseReach(double referenceHz, double binHz);

// A rough B for where to look for partial 3 once partial 2 is found: 2 × 10⁻⁴
// in the bass, rising to 1.6 × 10⁻² at C8. The measured partials replace it.
double PriorInharmonicity(int midiNote);

}  // namespace harmolune
