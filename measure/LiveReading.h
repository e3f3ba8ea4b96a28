#pragma once
// What the tuning display shows of a note while it sounds: the fine reading of
// the latest strike of the chosen note, refined on every block, and how far it
// has come. Standard library only.

#include "measure/FineEstimator.h"

namespace harmolune {

// How far a reading has come since its strike.
enum class LiveState {
    Refining,  // the note sounds and the reading still moves
    Stable,    // it has stayed within 0.3 c for half a second
    Final,     // the note has ended; kept until the next strike or note
};

struct LiveReading {
    // Frequency in hertz, cents against the note's equal-tempered frequency,
    // uncertainty in cents, seconds of sound, placed by the partials or not,
    // the partials and B of a piano key. fine.final is true in the Final state.
    FineReading fine;
    LiveState state = LiveState::Refining;
    int midiNote = 69;      // the chosen note, 0 to 127
    bool pianoKey = false;  // a key of the keyboard, not a guitar string
};

}  // namespace harmolune
