#include "measure/FineEstimator.h"

#include <algorithm>
#include <cmath>

namespace harmolune {

namespace {

// The audible part of a note that is not a piano key ends where the block's
// peak falls 30 dB below the loudest block of the note. Two windows in a row
// without the partial mark the end too.
constexpr double kAudibleFall = 0.0316227766;  // 30 dB in amplitude
constexpr int kWeakWindowsToEnd = 2;

// A piano note ends where the partial followed falls 20 dB below its
// loudest window (a sampled piano loops its sustain at another pitch further
// down), 30 dB in the top octave, whose prompt sound falls that far within a
// third of a second before it rings softly. The block peak is no guide: the
// prompt sound of the upper partials dies long before the fundamental.
constexpr double kPianoFall = 1e-2;
constexpr double kTopOctaveFall = 1e-3;

// A note whose block peak, 30 dB below its loudest, fell 15 dB within half a
// second has been stopped.
constexpr double kStoppedFall = 0.177827941;

}  // namespace

void FineEstimator::Track::Clear() {
    count = 0;
    firstUsed = -1;
    lastUsed = -1;
    strongest = 0.0;
    loudestPartial = 0.0;
    weakInARow = 0;
    partialSum.fill(0.0);
    partialWeight.fill(0.0);
    nextWindowEnd = plan.settleBlocks + plan.windowBlocks;
}

void FineEstimator::Start(int midiNote, bool pianoKey) {
    Clear();
    following_ = true;
    piano_ = pianoKey;
    referenceHz_ = EqualTemperedHz(midiNote);
    priorB_ = PriorInharmonicity(midiNote);
    main_.plan = PlanWindows(referenceHz_, piano_);
    main_.Clear();
    shortToo_ = piano_ && main_.plan.windowBlocks > kDefaultWindowBlocks;
    short_.plan = WindowPlan{};
    short_.Clear();
    window_.SetNote(referenceHz_, piano_, main_.plan.windowBlocks, priorB_);
}

void FineEstimator::Clear() {
    following_ = false;
    history_.Clear();
    main_.Clear();
    short_.Clear();
    loudest_ = 0;
    recentLevels_.fill(0);
}

void FineEstimator::Gap() {
    if (following_) {
        history_.Gap();
    }
}

void FineEstimator::Finish() {
    if (following_) {
        End();
    }
}

void FineEstimator::End() { following_ = false; }

void FineEstimator::Push(const Block& samples) {
    if (!following_) {
        return;
    }
    history_.Push(samples);
    const long long blocks = history_.Count();
    const int windowBlocks = main_.plan.windowBlocks;
    const int level = BlockLevel(samples);
    loudest_ = std::max(loudest_, level);
    const bool faded = level < kAudibleFall * loudest_ + 1.0;
    // A damper stops a string within a few tenths of a second; a bass key's
    // own decay never falls 15 dB in half a second.
    int recent = 0;
    for (const int l : recentLevels_) {
        recent = std::max(recent, l);
    }
    const bool stopped = faded && level <= kStoppedFall * recent;
    recentLevels_[static_cast<std::size_t>(blocks % kRecentBlocks)] = level;
    // The audible part of a guitar string ends where the block's peak falls
    // 30 dB below the loudest block of the note; one step of the 8-bit scale
    // is allowed for the capture's own noise, whose peak reaches it.
    if (!piano_ && main_.count > 0 && faded) {
        // The block before held the note's end. Where the note stopped short
        // that block is a fragment, and so is the window that ends with it.
        if (main_.count > 3 && main_.lastUsed == blocks - 2) {
            --main_.count;
            main_.lastUsed = static_cast<long long>(main_.estimates[main_.count - 1].centreBlocks +
                                                    0.5 * windowBlocks) -
                             1;
        }
        End();
        return;
    }
    // A piano key from G♯2 up ends there too, once it has three windows: the
    // tuner tunes by the loud part, and a sampled piano loops its sustain at
    // another pitch further down. Until then it goes on, for the notes whose
    // upper partials make the block peak fall 30 dB before the fundamental
    // has been seen in three windows. A lower key stopped short before its
    // long windows are three is read by its half-second windows.
    if (piano_ && ((faded && windowBlocks <= kDefaultWindowBlocks && main_.count >= 3) ||
                   (stopped && shortToo_ && main_.count < 3))) {
        End();
        return;
    }
    if (shortToo_ && main_.count < 3) {
        TakeWindow(short_);
    }
    switch (TakeWindow(main_)) {
        case Take::None:
            break;
        case Take::Weak: {
            // A piano's top octave rings softly after its prompt sound, and
            // its unison beats can hide it for a block or two: half a second
            // of weak windows ends it.
            const int weakToEnd = piano_ && windowBlocks == 1 ? 4 : kWeakWindowsToEnd;
            if (++main_.weakInARow >= weakToEnd) {
                End();
            }
            break;
        }
        case Take::Estimate:
            if (main_.count == kMaxEstimates) {
                End();
            }
            break;
    }
}

// The track's window that ends with the block just pushed, if one is due.
FineEstimator::Take FineEstimator::TakeWindow(Track& track) {
    const int windowBlocks = track.plan.windowBlocks;
    const long long blocks = history_.Count();
    if (history_.Contiguous() < windowBlocks || blocks < track.nextWindowEnd) {
        return Take::None;
    }
    track.nextWindowEnd = blocks + track.plan.hopBlocks;
    const long long firstBlock = blocks - windowBlocks;  // of the window ending here
    if (window_.WindowBlocks() != windowBlocks) {
        window_.SetNote(referenceHz_, piano_, windowBlocks, priorB_);
    }

    WindowEstimate e{};
    double followed = 0.0;  // power of the partial the note's end is judged by
    if (!window_.Estimate(history_, firstBlock, e, followed, track.strongest) ||
        !Usable(track, e, followed)) {
        return Take::Weak;
    }
    track.weakInARow = 0;
    if (!piano_) {
        track.strongest = std::max(track.strongest, e.power);
    }
    if (track.count < kMaxEstimates) {
        e.centreBlocks = static_cast<double>(firstBlock) + 0.5 * windowBlocks;
        track.estimates[track.count++] = e;
        if (track.firstUsed < 0) {
            track.firstUsed = firstBlock;
        }
        track.lastUsed = blocks - 1;
        for (int i = 0; i < window_.FoundCount(); ++i) {
            const int n = window_.Found(i).number;
            track.partialSum[n] += window_.FoundAmplitude(i) * window_.Found(i).frequencyHz;
            track.partialWeight[n] += window_.FoundAmplitude(i);
        }
    }
    return Take::Estimate;
}

// A piano key's window that found its partial: usable while the partial
// followed stands near its loudest, and while the window agrees with the one
// before; a window far from it has lost the note to something else in its
// band (the hum, a neighbour's string).
bool FineEstimator::Usable(Track& track, const WindowEstimate& e, double followed) {
    if (!piano_) {
        return true;
    }
    double& loudest = e.fromPartials ? track.loudestPartial : track.strongest;
    loudest = std::max(loudest, followed);
    if (followed < (track.plan.windowBlocks == 1 ? kTopOctaveFall : kPianoFall) * loudest) {
        return false;
    }
    const int count = track.count;
    return !(count > 0 && e.fromPartials == track.estimates[count - 1].fromPartials &&
             std::abs(CentsBetween(e.frequencyHz, track.estimates[count - 1].frequencyHz)) >
                 kOutlierCents);
}

}  // namespace harmolune
