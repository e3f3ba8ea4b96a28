#pragma once
// Pitch arithmetic shared by the notes, the measuring cycle and the fine
// measurement: equal temperament on A4 = 440 Hz, cents, and the band around
// the reference that the measurement searches. Standard library only.

#include <cmath>

namespace harmolune {

inline constexpr double kConcertPitchHz = 440.0;  // A4
inline constexpr int kConcertPitchNote = 69;      // MIDI key number of A4

// The band searched for the note: 0.9 to 1.1 times the reference frequency.
inline constexpr double kLowerBandFactor = 0.9;
inline constexpr double kUpperBandFactor = 1.1;

// 440 × 2^((note − 69) / 12), in hertz. The notes' reference texts evaluate
// the same power in another order (core/Notes.cpp); this one serves the
// measurement, where the last bit does not reach any text.
inline double EqualTemperedHz(int midiNote) {
    return kConcertPitchHz * std::exp2((midiNote - kConcertPitchNote) / 12.0);
}

// The MIDI key number, fractional, of a frequency in hertz.
inline double MidiNoteOf(double frequencyHz) {
    return kConcertPitchNote + 12.0 * std::log2(frequencyHz / kConcertPitchHz);
}

// How far frequencyHz lies above referenceHz, in cents (negative below).
inline double CentsBetween(double frequencyHz, double referenceHz) {
    return 1200.0 * std::log2(frequencyHz / referenceHz);
}

}  // namespace harmolune
