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

// The fine measurement's stiff-string fit, (f_n/n)² = a + b·n² weighted by
// n², and the variance of its B = b/a when each (f_n/n)² has the standard
// deviation `relative` of itself: relative < 0 takes it from the partials'
// own scatter about the fit. The weights are not 1/σ², so the covariance is
// the sandwich (XᵀWX)⁻¹·XᵀWΣWX·(XᵀWX)⁻¹. NaN when it cannot be told.
double VarianceOfB(const std::vector<PartialHz>& partials, double relative) {
    const std::size_t count = partials.size();
    std::vector<double> x(count), y(count), w(count);
    LineSums s;
    for (std::size_t i = 0; i < count; ++i) {
        const double n = partials[i].number;
        const double perN = partials[i].frequencyHz / n;
        x[i] = n * n;
        y[i] = perN * perN;
        w[i] = n * n;
        s.Add(x[i], y[i], w[i]);
    }
    const std::optional<LineSolution> fit = SolveLine(s);
    if (!fit || !(fit->a > 0.0)) {
        return NAN;
    }
    if (relative < 0.0) {
        if (count <= 2) {
            return NAN;
        }
        double sum = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            const double r = (y[i] - fit->a - fit->b * x[i]) / y[i];
            sum += r * r;
        }
        relative = std::sqrt(sum / static_cast<double>(count - 2));
    }
    // Inverse of XᵀWX = [[Σw, Σwx], [Σwx, Σwx²]].
    const double det = s.w * s.xx - s.x * s.x;
    const double i00 = s.xx / det;
    const double i01 = -s.x / det;
    const double i11 = s.w / det;
    // XᵀWΣWX.
    double m00 = 0.0, m01 = 0.0, m11 = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double v = w[i] * w[i] * (relative * y[i]) * (relative * y[i]);
        m00 += v;
        m01 += v * x[i];
        m11 += v * x[i] * x[i];
    }
    const double c00 = i00 * (i00 * m00 + i01 * m01) + i01 * (i00 * m01 + i01 * m11);
    const double c01 = i00 * (i01 * m00 + i11 * m01) + i01 * (i01 * m01 + i11 * m11);
    const double c11 = i01 * (i01 * m00 + i11 * m01) + i11 * (i01 * m01 + i11 * m11);
    const double a = fit->a;
    const double b = fit->b;
    // Linear propagation through b / a.
    return c11 / (a * a) + c00 * b * b / (a * a * a * a) - 2.0 * c01 * b / (a * a * a);
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
    const double byScatter = VarianceOfB(partials, -1.0);
    // The reading's uncertainty in cents, as if each partial had it: (f/n)²
    // moves by 2·ln2/1200 of itself per cent.
    const double u = std::isfinite(key.uncertaintyCents) ? key.uncertaintyCents : 0.0;
    const double byReading =
        u > 0.0 ? VarianceOfB(partials, 2.0 * u * std::numbers::ln2 / 1200.0) : 0.0;
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
    // A second line must buy its two parameters: chance alone lowers the
    // weighted residual by about 2 at the best of a few breaks, a real break
    // by tens or hundreds.
    double best = single->second;
    std::size_t bestSplit = 0;
    std::pair<BLine, BLine> bestLines;
    for (std::size_t p = kMinKeysPerLine; p + kMinKeysPerLine <= keys.size(); ++p) {
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
        // Wound strings' B falls towards the break, plain strings' rises
        // from it: a bass line steeper upwards than the treble's is no break.
        if (bass->first.slope >= treble->first.slope) {
            continue;
        }
        const double score = bass->second + treble->second + kSecondLineCost;
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
        // A key at the crossing itself has the same B on both lines; the
        // margin keeps rounding from moving the break past it.
        if (crossing >= last - 1e-9 && crossing <= first + 1e-9) {
            fit.breakKey =
                std::clamp(static_cast<int>(std::ceil(crossing - 1e-9)), last + 1, first);
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
