#include "tuning/Inharmonicity.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace harmolune::tuning {

namespace {

// A weighted least-squares line y = a + b·x: its sums, then its solution.
struct LineSums {
    double w = 0.0, x = 0.0, y = 0.0, xx = 0.0, xy = 0.0, yy = 0.0;
    int count = 0;

    void Add(double xi, double yi, double wi) {
        w += wi;
        x += wi * xi;
        y += wi * yi;
        xx += wi * xi * xi;
        xy += wi * xi * yi;
        yy += wi * yi * yi;
        ++count;
    }
};

struct LineSolution {
    double a = 0.0;
    double b = 0.0;
    std::array<double, 3> covariance{};  // of (a, b) with unit weights meaning 1/σ²
    double chiSquare = 0.0;
};

// nullopt when x takes a single value.
std::optional<LineSolution> SolveLine(const LineSums& s) {
    if (!(s.w > 0.0)) {
        return std::nullopt;
    }
    const double meanX = s.x / s.w;
    const double meanY = s.y / s.w;
    const double sxx = s.xx - s.x * meanX;
    // Relative to the spread of x itself, not to 0: the keys are 21 to 108.
    if (!(sxx > 1e-9 * s.w)) {
        return std::nullopt;
    }
    LineSolution line;
    line.b = (s.xy - s.x * meanY) / sxx;
    line.a = meanY - line.b * meanX;
    line.covariance = {1.0 / s.w + meanX * meanX / sxx, -meanX / sxx, 1.0 / sxx};
    // Σw(y − a − bx)², expanded; never below 0 for rounding.
    const double syy = s.yy - s.y * meanY;
    line.chiSquare = std::max(0.0, syy - line.b * line.b * sxx);
    return line;
}

double Weight(const KeyInharmonicity& k) {
    return 1.0 / (k.sigmaLnB * k.sigmaLnB + kStringScatterLnB * kStringScatterLnB);
}

// A line through keys[from, to), its covariance scaled up when the keys
// scatter more than their weights allow.
std::optional<std::pair<BLine, double>> FitLine(const std::vector<KeyInharmonicity>& keys,
                                                std::size_t from, std::size_t to) {
    LineSums sums;
    for (std::size_t i = from; i < to; ++i) {
        sums.Add(keys[i].midiNote, keys[i].lnB, Weight(keys[i]));
    }
    const std::optional<LineSolution> solution = SolveLine(sums);
    if (!solution) {
        return std::nullopt;
    }
    BLine line;
    line.intercept = solution->a;
    line.slope = solution->b;
    line.keys = sums.count;
    const int freedom = sums.count - 2;
    const double scale = freedom > 0 ? std::max(1.0, solution->chiSquare / freedom) : 1.0;
    for (std::size_t i = 0; i < 3; ++i) {
        line.covariance[i] = solution->covariance[i] * scale;
    }
    return std::make_pair(line, solution->chiSquare);
}

// The variances of B (not ln B) of the stiff-string fit (f_n/n)² = a + b·n²
// over the partials, each weighted by 1/σ_n² given: B = b/a.
double VarianceOfB(const std::vector<PartialHz>& partials, const std::vector<double>& weights,
                   double residualScale) {
    LineSums s;
    for (std::size_t i = 0; i < partials.size(); ++i) {
        const double n = partials[i].number;
        const double perN = partials[i].frequencyHz / n;
        s.Add(n * n, perN * perN, weights[i]);
    }
    const std::optional<LineSolution> fit = SolveLine(s);
    if (!fit || !(fit->a > 0.0)) {
        return NAN;
    }
    double scale = residualScale;
    if (scale < 0.0) {
        // The partials' own scatter sets σ: Σw r² / (N − 2).
        scale = s.count > 2 ? fit->chiSquare / (s.count - 2) : NAN;
    }
    const double a = fit->a;
    const double b = fit->b;
    const double varA = fit->covariance[0] * scale;
    const double covAB = fit->covariance[1] * scale;
    const double varB = fit->covariance[2] * scale;
    // Linear propagation through b / a.
    return varB / (a * a) + varA * b * b / (a * a * a * a) - 2.0 * covAB * b / (a * a * a);
}

}  // namespace

double BFit::LnB(int midiNote) const {
    return std::clamp(LineOf(midiNote).LnB(HeldKey(midiNote)), kLowestLnB, kHighestLnB);
}

std::optional<KeyInharmonicity> KeyB(const MeasuredKey& key) {
    if (!key.inharmonicity || !std::isfinite(*key.inharmonicity) || !(*key.inharmonicity > 0.0)) {
        return std::nullopt;
    }
    const double B = *key.inharmonicity;
    KeyInharmonicity result{key.midiNote, std::log(B), kUncheckedSigmaLnB};

    std::vector<PartialHz> partials;
    for (const PartialHz& p : key.partials) {
        if (p.number >= 1 && p.number <= 64 && std::isfinite(p.frequencyHz) &&
            p.frequencyHz > 0.0) {
            partials.push_back(p);
        }
    }
    if (partials.size() < 3) {
        return result;
    }
    // The fine measurement weighs each partial by n², as here.
    std::vector<double> weights;
    for (const PartialHz& p : partials) {
        weights.push_back(static_cast<double>(p.number) * p.number);
    }
    const double byScatter = VarianceOfB(partials, weights, -1.0);
    // The reading's uncertainty in cents, as if each partial had it: y = (f/n)²
    // moves by 2·ln2/1200 of itself per cent.
    double byReading = 0.0;
    const double u = std::isfinite(key.uncertaintyCents) ? key.uncertaintyCents : 0.0;
    if (u > 0.0) {
        std::vector<double> known;
        for (const PartialHz& p : partials) {
            const double perN = p.frequencyHz / p.number;
            const double sigma = 2.0 * perN * perN * u * std::numbers::ln2 / 1200.0;
            known.push_back(1.0 / (sigma * sigma));
        }
        byReading = VarianceOfB(partials, known, 1.0);
    }
    double variance = std::max(std::isfinite(byScatter) ? byScatter : 0.0,
                               std::isfinite(byReading) ? byReading : 0.0);
    if (!std::isfinite(byScatter) && !std::isfinite(byReading)) {
        variance = kUncheckedSigmaLnB * kUncheckedSigmaLnB * B * B;
    }
    result.sigmaLnB = std::clamp(std::sqrt(std::max(variance, 0.0)) / B, kMinSigmaLnB, 2.0);
    return result;
}

BFit FitInharmonicity(const std::vector<KeyInharmonicity>& given) {
    std::vector<KeyInharmonicity> keys = given;
    std::sort(keys.begin(), keys.end(), [](const KeyInharmonicity& l, const KeyInharmonicity& r) {
        if (l.midiNote != r.midiNote) {
            return l.midiNote < r.midiNote;
        }
        return l.lnB != r.lnB ? l.lnB < r.lnB : l.sigmaLnB < r.sigmaLnB;
    });
    const auto single = FitLine(keys, 0, keys.size());
    if (!single) {
        return FitFlatInharmonicity(keys);
    }
    BFit fit;
    fit.valid = true;
    fit.lowestKey = keys.front().midiNote;
    fit.highestKey = keys.back().midiNote;
    fit.bass = fit.treble = single->first;
    // Akaike's count: each line's two parameters cost 2 each.
    double best = single->second + 4.0;
    std::size_t bestSplit = 0;
    std::pair<BLine, BLine> bestLines;
    for (std::size_t p = 2; p + 2 <= keys.size(); ++p) {
        if (keys[p - 1].midiNote > kHighestBassKey) {
            break;
        }
        if (keys[p - 1].midiNote == keys[p].midiNote) {
            continue;
        }
        const auto bass = FitLine(keys, 0, p);
        const auto treble = FitLine(keys, p, keys.size());
        if (!bass || !treble) {
            continue;
        }
        const double score = bass->second + treble->second + 8.0;
        if (score < best) {
            best = score;
            bestSplit = p;
            bestLines = {bass->first, treble->first};
        }
    }
    if (bestSplit == 0) {
        return fit;
    }
    fit.bass = bestLines.first;
    fit.treble = bestLines.second;
    const int last = keys[bestSplit - 1].midiNote;
    const int first = keys[bestSplit].midiNote;
    fit.lastBassKey = last;
    fit.firstTrebleKey = first;
    fit.breakKey = last + (first - last + 1) / 2;
    const double slopes = fit.bass.slope - fit.treble.slope;
    if (slopes != 0.0) {
        const double crossing = (fit.treble.intercept - fit.bass.intercept) / slopes;
        if (crossing > last && crossing < first) {
            fit.breakKey = static_cast<int>(std::ceil(crossing));
        }
    }
    return fit;
}

BFit FitFlatInharmonicity(const std::vector<KeyInharmonicity>& keys) {
    BFit fit;
    double sw = 0.0;
    double sy = 0.0;
    double syy = 0.0;
    for (const KeyInharmonicity& k : keys) {
        const double w = Weight(k);
        sw += w;
        sy += w * k.lnB;
        syy += w * k.lnB * k.lnB;
    }
    if (!(sw > 0.0)) {
        return fit;
    }
    fit.valid = true;
    const auto [lowest, highest] = std::minmax_element(
        keys.begin(), keys.end(), [](const KeyInharmonicity& l, const KeyInharmonicity& r) {
            return l.midiNote < r.midiNote;
        });
    fit.lowestKey = lowest->midiNote;
    fit.highestKey = highest->midiNote;
    fit.bass.intercept = sy / sw;
    fit.bass.keys = static_cast<int>(keys.size());
    const double chiSquare = std::max(0.0, syy - sy * sy / sw);
    const double scale = keys.size() > 1 ? std::max(1.0, chiSquare / (keys.size() - 1)) : 1.0;
    // Away from the keys measured, B may differ from their mean by a factor
    // of e and more: a piano's B spans two decades.
    fit.bass.covariance = {scale / sw + 1.0, 0.0, 0.0};
    fit.treble = fit.bass;
    return fit;
}

}  // namespace harmolune::tuning
