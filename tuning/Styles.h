#pragma once
// The ways a tuner can stretch a piano, as data: which partials of which
// intervals are made to coincide, over which keys, with what weight. The
// curve solves for the targets that make the chosen partials meet as well as
// they can together. Standard library only.

#include <string>
#include <vector>

namespace harmolune::tuning {

// Partial `lowerPartial` of each key i from fromKey to toKey (MIDI key
// numbers of the lower key) meets partial `upperPartial` of key
// i + interval. The weight fades linearly to nothing over `fade` keys beyond
// each end, so that a region hands over to the next without a kink.
struct Term {
    int interval = 12;  // semitones: 12 octave, 19 twelfth, 24 double octave
    int lowerPartial = 2;
    int upperPartial = 1;
    int fromKey = 21;
    int toKey = 96;
    double weight = 1.0;
    int fade = 0;
};

struct Style {
    std::string name;  // as the user chooses it, in French
    std::vector<Term> terms;
    // Weight of the second differences of the targets, in the same units as
    // the terms' weights: how smoothly each octave's stretch is shared among
    // its keys where the terms leave it free.
    double smoothness = 1.0;
};

// The styles offered, "Standard" first, then "Douzièmes pures" and the rest.
const std::vector<Style>& Styles();

// The style of that name, or nullptr.
const Style* FindStyle(const std::string& name);

// What the curve falls back on with too few keys: 4:2 octaves over the
// whole keyboard.
const Style& FallbackStyle();

}  // namespace harmolune::tuning
