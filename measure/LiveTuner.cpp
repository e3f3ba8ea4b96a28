#include "measure/LiveTuner.h"

#include <algorithm>
#include <cmath>

namespace harmolune {

namespace {

constexpr double kBlockSeconds = static_cast<double>(kFrameLength) / kSampleRate;

// A reading is stable once it has stayed within this of where it is for the
// last half second.
constexpr double kStableCents = 0.3;

// How far the first window after a strike may lie from the note's pitch:
// it holds the attack, which in a struck or plucked string starts sharp.
constexpr double kFirstWindowCents = 2.0;

}  // namespace

void LiveTuner::Choose(int midiNote, bool pianoKey) {
    chosen_ = true;
    piano_ = pianoKey;
    midiNote_ = midiNote;
    referenceHz_ = EqualTemperedHz(midiNote);
    priorB_ = PriorInharmonicity(midiNote);
    longestBlocks_ = PlanWindows(referenceHz_, pianoKey).windowBlocks;
    strikes_.SetNote(referenceHz_);
    window_.SetNote(referenceHz_, piano_, 1, priorB_);
    fine_.Clear();
    followingStrike_ = false;
    changed_ = reading_.has_value();
    reading_.reset();
}

void LiveTuner::ToneStarted() { strikes_.Mask(kToneBlocks); }

void LiveTuner::Push(const Block& samples) {
    changed_ = false;
    if (!chosen_) {
        return;
    }
    if (strikes_.Push(samples)) {
        Strike(samples);
        return;
    }
    if (followingStrike_) {
        fine_.Push(samples);
        Refine();
    }
}

void LiveTuner::Gap() {
    changed_ = false;
    if (followingStrike_) {
        fine_.Gap();
    }
}

void LiveTuner::Strike(const Block& samples) {
    // The reading of the strike before ends here, as it stood.
    if (reading_ && reading_->state != LiveState::Final) {
        reading_->state = LiveState::Final;
        reading_->fine.final = true;
        changed_ = true;
    }
    fine_.Start(midiNote_, piano_);
    fine_.Push(samples);
    followingStrike_ = true;
    quickStrongest_ = 0.0;
    quickCount_ = 0;
    nextWindowEnd_ = 0;
    lastQuick_.reset();
    shown_ = 0;
}

void LiveTuner::Refine() {
    if (!fine_.Following()) {
        // The note has ended: its fine measurement over the whole note, or
        // the last window where that says less.
        followingStrike_ = false;
        std::optional<FineReading> last = fine_.Reading();
        if (lastQuick_ && (!last || (!fine_.OwnWindowsRead() &&
                                     lastQuick_->uncertaintyCents < last->uncertaintyCents))) {
            last = lastQuick_;
        }
        if (last) {
            Show(*last, LiveState::Final);
        }
        return;
    }
    // While it sounds, the last window alone: the pitch follows the pin.
    const std::optional<FineReading> quick = Quick();
    if (quick) {
        lastQuick_ = quick;
        Show(*quick, LiveState::Refining);
    }
}

// The window over the last blocks since the strike, leaving out the
// strike's own block (it holds what sounded before): one block, then two,
// four... up to the note's own windows. Windows of a second or more are taken
// every eighth of their length.
std::optional<FineReading> LiveTuner::Quick() {
    const BlockHistory& history = fine_.History();
    const long long count = history.Count();
    const long long available = std::min<long long>(history.Contiguous(), count - 1);
    if (available < 1 || count < nextWindowEnd_) {
        return std::nullopt;
    }
    int blocks = 1;
    while (2LL * blocks <= available && 2 * blocks <= longestBlocks_) {
        blocks *= 2;
    }
    nextWindowEnd_ = count + std::max(1, blocks / 8);
    if (window_.WindowBlocks() != blocks) {
        window_.SetNote(referenceHz_, piano_, blocks, priorB_);
    }
    WindowEstimate e{};
    double followed = 0.0;
    if (!window_.Estimate(history, count - blocks, e, followed, quickStrongest_)) {
        return std::nullopt;
    }
    if (!piano_) {
        quickStrongest_ = std::max(quickStrongest_, e.power);
    }
    FineReading r;
    r.frequencyHz = e.frequencyHz;
    r.cents = CentsBetween(e.frequencyHz, referenceHz_);
    r.fromPartials = e.fromPartials;
    r.seconds = blocks * kBlockSeconds;
    if (piano_) {
        for (int i = 0; i < window_.FoundCount() && r.partialCount < kMaxPartials; ++i) {
            r.partials[static_cast<std::size_t>(r.partialCount++)] = window_.Found(i);
        }
        if (r.partialCount >= 3) {
            const std::optional<StiffStringFit> fit =
                FitStiffString(r.partials.data(), r.partialCount);
            if (fit && fit->f0SquaredB >= 0.0) {
                r.inharmonicity = fit->f0SquaredB / fit->f0Squared;
            }
        }
    }
    // The window's own noise, how far the pitch moves, how far a real string
    // strays from the model when the partials place it, and the unison's
    // allowance. The pitch moves after a strike (the attack, beating
    // strings, a sampled note's loop): from the two windows before to this
    // one, and within this one, which its recent half shows.
    double move = kFirstWindowCents;
    if (quickCount_ > 0) {
        move = 0.0;
        for (int i = 0; i < std::min(quickCount_, 2); ++i) {
            move = std::max(move, std::abs(r.cents - quickCents_[static_cast<std::size_t>(i)]));
        }
    }
    if (blocks >= 2) {
        window_.SetNote(referenceHz_, piano_, blocks / 2, priorB_);
        WindowEstimate half{};
        double halfFollowed = 0.0;
        if (window_.Estimate(history, count - blocks / 2, half, halfFollowed, quickStrongest_) &&
            half.fromPartials == e.fromPartials) {
            move = std::max(move, std::abs(CentsBetween(half.frequencyHz, e.frequencyHz)));
        }
    }
    quickCents_[1] = quickCents_[0];
    quickCents_[0] = r.cents;
    ++quickCount_;
    const double model = e.fromPartials ? kModelCents : 0.0;
    const double unison = piano_ && r.partialCount >= 2 ? kUnisonCents : 0.0;
    r.uncertaintyCents =
        std::sqrt(e.noiseCents * e.noiseCents + move * move + model * model + unison * unison);
    return r;
}

void LiveTuner::Show(const FineReading& reading, LiveState state) {
    if (state != LiveState::Final) {
        for (int i = kStableBlocks - 1; i > 0; --i) {
            shownCents_[static_cast<std::size_t>(i)] = shownCents_[static_cast<std::size_t>(i - 1)];
        }
        shownCents_[0] = reading.cents;
        ++shown_;
        bool stable = shown_ >= kStableBlocks;
        for (int i = 0; stable && i < kStableBlocks; ++i) {
            stable =
                std::abs(shownCents_[static_cast<std::size_t>(i)] - reading.cents) <= kStableCents;
        }
        state = stable ? LiveState::Stable : LiveState::Refining;
    }
    LiveReading next;
    next.fine = reading;
    next.fine.final = state == LiveState::Final;
    next.state = state;
    next.midiNote = midiNote_;
    next.pianoKey = piano_;
    changed_ = !reading_ || reading_->state != next.state ||
               reading_->fine.frequencyHz != next.fine.frequencyHz ||
               reading_->fine.uncertaintyCents != next.fine.uncertaintyCents;
    reading_ = next;
}

}  // namespace harmolune
