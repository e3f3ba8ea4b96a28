#include "tuning/Advice.h"

#include <algorithm>

#include "core/Notes.h"

namespace harmolune::tuning {

namespace {

constexpr int kFirstA = 33;  // A1
constexpr int kLastA = 105;  // A7
// Wound strings end somewhere between these on most pianos.
constexpr int kUsualBassEnd = 36;      // C2
constexpr int kUsualTrebleStart = 48;  // C3

bool Contains(const std::vector<int>& keys, int key) {
    return std::binary_search(keys.begin(), keys.end(), key);
}

// "a", "a et b", "a, b et c".
std::string JoinNames(const std::vector<int>& keys) {
    std::string text;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i > 0) {
            text += i + 1 == keys.size() ? " et " : ", ";
        }
        text += KeyName(keys[i]);
    }
    return text;
}

// Two keys that would place the break: inside the gap the fit left around
// it, or about the usual end of the wound strings when the fit found none.
std::vector<int> BreakKeys(const BFit& fit, const std::vector<int>& measuredKeys,
                           const std::vector<int>& keysWithB) {
    int below = kUsualBassEnd;
    int above = kUsualTrebleStart;
    if (fit.breakKey != 0) {
        const auto first = std::lower_bound(keysWithB.begin(), keysWithB.end(), fit.breakKey);
        if (first == keysWithB.begin() || first == keysWithB.end()) {
            return {};
        }
        const int last = *(first - 1);
        const int gap = *first - last;
        if (gap <= kWidestBreakGap) {
            return {};
        }
        below = last + gap / 3;
        above = last + (2 * gap) / 3;
    } else {
        // The break needs a line's worth of keys with B below it to be seen.
        const auto bass = std::count_if(keysWithB.begin(), keysWithB.end(),
                                        [](int k) { return k < kUsualTrebleStart; });
        if (bass >= kMinKeysPerLine) {
            return {};
        }
    }
    std::vector<int> keys;
    for (const int k : {below, above}) {
        if (!Contains(measuredKeys, k)) {
            keys.push_back(k);
        }
    }
    return keys;
}

// The A's still lacking, then the keys about the break.
struct Lacking {
    std::vector<int> as;
    std::vector<int> around;
};

Lacking Lack(bool fitted, const BFit& fit, const std::vector<int>& measuredKeys,
             const std::vector<int>& keysWithB) {
    Lacking lacking;
    for (int k = kFirstA; k <= kLastA; k += 12) {
        // Without a curve, an A measured without its B does not count yet;
        // B is measured up to the middle of octave 6.
        const bool lacks =
            !Contains(measuredKeys, k) || (!fitted && k <= 81 && !Contains(keysWithB, k));
        if (lacks) {
            lacking.as.push_back(k);
        }
    }
    lacking.around = BreakKeys(fit, measuredKeys, keysWithB);
    return lacking;
}

}  // namespace

std::string KeyName(int midiNote) {
    const int key = ((midiNote % 12) + 12) % 12;
    const int octave = (midiNote - key) / 12 - 1;
    return std::string(kKeys[key].tag) + " " + std::to_string(octave);
}

std::vector<int> CurveAdviceKeys(bool fitted, const BFit& fit, const std::vector<int>& measuredKeys,
                                 const std::vector<int>& keysWithB) {
    const Lacking lacking = Lack(fitted, fit, measuredKeys, keysWithB);
    std::vector<int> keys = lacking.as;
    keys.insert(keys.end(), lacking.around.begin(), lacking.around.end());
    return keys;
}

std::string CurveAdvice(bool fitted, const BFit& fit, const std::vector<int>& measuredKeys,
                        const std::vector<int>& keysWithB) {
    const Lacking lacking = Lack(fitted, fit, measuredKeys, keysWithB);
    if (lacking.as.empty() && lacking.around.empty()) {
        return "";
    }
    std::string text = fitted ? "Pour affiner la courbe, mesurez aussi "
                              : "La courbe demande 4 touches mesurées sur au moins 3 octaves : "
                                "mesurez ";
    text += JoinNames(lacking.as);
    if (!lacking.around.empty()) {
        text += lacking.as.empty() ? "" : ", puis ";
        text += JoinNames(lacking.around) + ", de part et d'autre de la fin des cordes filées";
    }
    return text + ".";
}

}  // namespace harmolune::tuning
