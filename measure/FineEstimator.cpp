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

}  // namespace

void FineEstimator::Start(int midiNote, bool pianoKey) {
    Clear();
    following_ = true;
    piano_ = pianoKey;
    referenceHz_ = EqualTemperedHz(midiNote);
    plan_ = PlanWindows(referenceHz_, piano_);
    window_.SetNote(referenceHz_, piano_, plan_.windowBlocks, PriorInharmonicity(midiNote));
    nextWindowEnd_ = plan_.settleBlocks + plan_.windowBlocks;
}

void FineEstimator::Clear() {
    following_ = false;
    count_ = 0;
    history_.Clear();
    firstUsed_ = -1;
    lastUsed_ = -1;
    strongest_ = 0.0;
    loudestPartial_ = 0.0;
    loudest_ = 0;
    weakInARow_ = 0;
    partialSum_.fill(0.0);
    partialWeight_.fill(0.0);
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
    const int windowBlocks = plan_.windowBlocks;
    const int level = BlockLevel(samples);
    loudest_ = std::max(loudest_, level);
    // The audible part of a guitar string ends where the block's peak falls
    // 30 dB below the loudest block of the note; one step of the 8-bit scale
    // is allowed for the capture's own noise, whose peak reaches it.
    if (!piano_ && count_ > 0 && level < kAudibleFall * loudest_ + 1.0) {
        // The block before held the note's end. Where the note stopped short
        // that block is a fragment, and so is the window that ends with it.
        if (count_ > 3 && lastUsed_ == blocks - 2) {
            --count_;
            lastUsed_ =
                static_cast<long long>(estimates_[count_ - 1].centreBlocks + 0.5 * windowBlocks) -
                1;
        }
        End();
        return;
    }
    // A piano key from G♯2 up ends there too, once it has three windows: the
    // tuner tunes by the loud part, and a sampled piano loops its sustain at
    // another pitch further down. Until then it goes on, for the notes whose
    // upper partials make the block peak fall 30 dB before the fundamental
    // has been seen in three windows.
    if (piano_ && windowBlocks <= kDefaultWindowBlocks && count_ >= 3 &&
        level < kAudibleFall * loudest_ + 1.0) {
        End();
        return;
    }
    if (history_.Contiguous() < windowBlocks || blocks < nextWindowEnd_) {
        return;
    }
    nextWindowEnd_ = blocks + plan_.hopBlocks;
    const long long firstBlock = blocks - windowBlocks;  // of the window ending here

    WindowEstimate e{};
    double followed = 0.0;  // power of the partial the note's end is judged by
    const bool usable =
        window_.Estimate(history_, firstBlock, e, followed, strongest_) && Usable(e, followed);
    if (!usable) {
        // A piano's top octave rings softly after its prompt sound, and its
        // unison beats can hide it for a block or two: half a second of weak
        // windows ends it.
        const int weakToEnd = piano_ && windowBlocks == 1 ? 4 : kWeakWindowsToEnd;
        if (++weakInARow_ >= weakToEnd) {
            End();
        }
        return;
    }
    weakInARow_ = 0;
    if (!piano_) {
        strongest_ = std::max(strongest_, e.power);
    }
    if (count_ < kMaxEstimates) {
        e.centreBlocks = static_cast<double>(firstBlock) + 0.5 * windowBlocks;
        estimates_[count_++] = e;
        if (firstUsed_ < 0) {
            firstUsed_ = firstBlock;
        }
        lastUsed_ = blocks - 1;
        for (int i = 0; i < window_.FoundCount(); ++i) {
            const int n = window_.Found(i).number;
            partialSum_[n] += window_.FoundAmplitude(i) * window_.Found(i).frequencyHz;
            partialWeight_[n] += window_.FoundAmplitude(i);
        }
    }
    if (count_ == kMaxEstimates) {
        End();
    }
}

// A piano key's window that found its partial: usable while the partial
// followed stands near its loudest, and while the window agrees with the one
// before; a window far from it has lost the note to something else in its
// band (the hum, a neighbour's string).
bool FineEstimator::Usable(const WindowEstimate& e, double followed) {
    if (!piano_) {
        return true;
    }
    double& loudest = e.fromPartials ? loudestPartial_ : strongest_;
    loudest = std::max(loudest, followed);
    if (followed < (plan_.windowBlocks == 1 ? kTopOctaveFall : kPianoFall) * loudest) {
        return false;
    }
    return !(count_ > 0 && e.fromPartials == estimates_[count_ - 1].fromPartials &&
             std::abs(CentsBetween(e.frequencyHz, estimates_[count_ - 1].frequencyHz)) >
                 kOutlierCents);
}

}  // namespace harmolune
