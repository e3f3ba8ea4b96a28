#pragma once
// Which keys to measure next, as one French line: the A's of octaves 1 to 7
// that the curve still lacks, and a key on each side of the end of the wound
// strings when the fit cannot place it closely. Standard library and core/
// only.

#include <string>
#include <vector>

#include "tuning/Inharmonicity.h"

namespace harmolune::tuning {

// The key's name as the window writes it, with its octave: "La 4", "Mib 2".
std::string KeyName(int midiNote);

// measuredKeys: every key measured; keysWithB: those with a B, both in
// increasing order. "" when nothing more is needed.
std::string CurveAdvice(bool fitted, const BFit& fit, const std::vector<int>& measuredKeys,
                        const std::vector<int>& keysWithB);

// The keys that line names, in its order: the A's, then the keys on each
// side of the end of the wound strings. Empty when it is "".
std::vector<int> CurveAdviceKeys(bool fitted, const BFit& fit, const std::vector<int>& measuredKeys,
                                 const std::vector<int>& keysWithB);

// Two keys further apart than this around the break leave it unplaced.
inline constexpr int kWidestBreakGap = 6;

}  // namespace harmolune::tuning
