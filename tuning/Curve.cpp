#include "tuning/Curve.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

#include "core/Pitch.h"
#include "tuning/Advice.h"

namespace harmolune::tuning {

namespace {

constexpr int kAnchorKey = kConcertPitchNote;  // A4 stays at 440 Hz
constexpr int kUnknowns = kKeyCount - 1;
// What the targets' B depends on: the bass line's intercept and slope, the
// treble line's, then how far ln B bends away from the lines below and above
// the keys measured (kBassBendPerKey, kTrebleBendPerKey), and where in the
// gap between the measured keys either side of the break the wound strings
// really end: one standard deviation moves the gap's keys halfway to the
// other line.
constexpr int kParameters = 7;
// Weight that holds two neighbouring targets together where the solve would
// make the upper one lower.
constexpr double kMonotoneWeight = 1e6;

using Matrix = Eigen::Matrix<double, kUnknowns, kUnknowns>;
using Vector = Eigen::Matrix<double, kUnknowns, 1>;
using Jacobian = Eigen::Matrix<double, kUnknowns, kParameters>;

// The unknown of key k; -1 for A4, which is held at 0.
int Unknown(int key) {
    if (key == kAnchorKey) {
        return -1;
    }
    return key < kAnchorKey ? key - kLowestKey : key - kLowestKey - 1;
}

// How far partial n lies above n times f1, in cents, for a string of B:
// 600·log2((1 + B·n²) / (1 + B)); and its derivative against ln B.
double PartialStretch(double B, int n) { return 600.0 * std::log2((1.0 + B * n * n) / (1.0 + B)); }
double PartialStretchPerLnB(double B, int n) {
    const double nn = static_cast<double>(n) * n;
    return 600.0 / std::numbers::ln2 * (B * nn / (1.0 + B * nn) - B / (1.0 + B));
}

// ln B at each key, and the parameter of the fit it moves with.
struct StringB {
    double B = 0.0;
    std::array<double, kParameters> perParameter{};  // ∂ln B / ∂θ
};

std::array<StringB, kKeyCount> BAcross(const BFit& fit) {
    std::array<StringB, kKeyCount> keys{};
    for (int k = kLowestKey; k <= kHighestKey; ++k) {
        StringB& out = keys[k - kLowestKey];
        if (!fit.valid) {
            continue;
        }
        const BLine& line = fit.LineOf(k);
        const int held = fit.HeldKey(k);
        const double lnB = fit.LnB(k);
        out.B = std::exp(lnB);
        if (lnB > kLowestLnB && lnB < kHighestLnB) {
            const int first = &line == &fit.bass ? 0 : 2;
            out.perParameter[first] = 1.0;
            out.perParameter[first + 1] = held;
            out.perParameter[4] = std::max(0, fit.lowestKey - k);
            out.perParameter[5] = std::max(0, k - fit.highestKey);
            if (k > fit.lastBassKey && k < fit.firstTrebleKey) {
                const BLine& other = &line == &fit.bass ? fit.treble : fit.bass;
                const double otherLnB = std::clamp(other.LnB(k), kLowestLnB, kHighestLnB);
                out.perParameter[6] = 0.5 * (otherLnB - lnB);
            }
        }
    }
    return keys;
}

double TermWeight(const Term& term, int lowerKey) {
    if (lowerKey >= term.fromKey && lowerKey <= term.toKey) {
        return term.weight;
    }
    const int beyond = lowerKey < term.fromKey ? term.fromKey - lowerKey : lowerKey - term.toKey;
    if (beyond > term.fade) {
        return 0.0;
    }
    return term.weight * (1.0 - static_cast<double>(beyond) / (term.fade + 1));
}

// The weighted normal equations of the style's terms and smoothness.
struct System {
    Matrix a = Matrix::Zero();
    Vector b = Vector::Zero();
    Jacobian bPerParameter = Jacobian::Zero();

    // One row: Σ coefficient·c_key should equal value, with this weight.
    template <std::size_t N>
    void Add(const std::array<std::pair<int, double>, N>& row, double weight, double value,
             const std::array<double, kParameters>& valuePerParameter) {
        for (const auto& [keyI, ci] : row) {
            const int i = Unknown(keyI);
            if (i < 0) {
                continue;
            }
            b(i) += weight * ci * value;
            for (int p = 0; p < kParameters; ++p) {
                bPerParameter(i, p) += weight * ci * valuePerParameter[p];
            }
            for (const auto& [keyJ, cj] : row) {
                const int j = Unknown(keyJ);
                if (j >= 0) {
                    a(i, j) += weight * ci * cj;
                }
            }
        }
    }
};

System Assemble(const Style& style, const std::array<StringB, kKeyCount>& B) {
    System system;
    for (const Term& term : style.terms) {
        const double pure =
            1200.0 * std::log2(static_cast<double>(term.lowerPartial) / term.upperPartial);
        for (int i = kLowestKey; i + term.interval <= kHighestKey; ++i) {
            const double weight = TermWeight(term, i);
            if (weight <= 0.0) {
                continue;
            }
            const int j = i + term.interval;
            const StringB& lower = B[i - kLowestKey];
            const StringB& upper = B[j - kLowestKey];
            // Partial m of key j meets partial n of key i when c_j − c_i
            // makes up what equal temperament and the strings' stiffness
            // leave between them.
            const double value = pure - 100.0 * term.interval +
                                 PartialStretch(lower.B, term.lowerPartial) -
                                 PartialStretch(upper.B, term.upperPartial);
            std::array<double, kParameters> perParameter{};
            const double dLower = PartialStretchPerLnB(lower.B, term.lowerPartial);
            const double dUpper = PartialStretchPerLnB(upper.B, term.upperPartial);
            for (int p = 0; p < kParameters; ++p) {
                perParameter[p] = dLower * lower.perParameter[p] - dUpper * upper.perParameter[p];
            }
            system.Add(std::array<std::pair<int, double>, 2>{{{j, 1.0}, {i, -1.0}}}, weight, value,
                       perParameter);
        }
    }
    for (int k = kLowestKey + 1; k < kHighestKey; ++k) {
        system.Add(std::array<std::pair<int, double>, 3>{{{k - 1, 1.0}, {k, -2.0}, {k + 1, 1.0}}},
                   style.smoothness, 0.0, {});
    }
    return system;
}

std::array<double, kKeyCount> Targets(const Vector& x) {
    std::array<double, kKeyCount> cents{};
    for (int k = kLowestKey; k <= kHighestKey; ++k) {
        const int i = Unknown(k);
        cents[k - kLowestKey] = i < 0 ? 0.0 : x(i);
    }
    return cents;
}

struct Solution {
    std::array<double, kKeyCount> cents{};
    std::array<double, kKeyCount> variance{};
};

// Solves the system; wherever a target comes out below its lower
// neighbour, the two are held together and the system solved again, until no
// step runs backwards.
Solution Solve(System system, const BFit& fit, bool bends) {
    Eigen::LDLT<Matrix> ldlt(system.a);
    Vector x = ldlt.solve(system.b);
    std::array<bool, kKeyCount> held{};
    for (int round = 0; round < kKeyCount; ++round) {
        const std::array<double, kKeyCount> cents = Targets(x);
        bool added = false;
        for (int k = kLowestKey; k < kHighestKey; ++k) {
            if (!held[k - kLowestKey] && cents[k + 1 - kLowestKey] < cents[k - kLowestKey]) {
                held[k - kLowestKey] = true;
                system.Add(std::array<std::pair<int, double>, 2>{{{k + 1, 1.0}, {k, -1.0}}},
                           kMonotoneWeight, 0.0, {});
                added = true;
            }
        }
        if (!added) {
            break;
        }
        ldlt.compute(system.a);
        x = ldlt.solve(system.b);
    }
    Solution solution;
    solution.cents = Targets(x);
    // A held pair is equal to within a millionth of a cent; make it exact,
    // outwards from A4.
    for (int k = kAnchorKey; k < kHighestKey; ++k) {
        double& up = solution.cents[k + 1 - kLowestKey];
        up = std::max(up, solution.cents[k - kLowestKey]);
    }
    for (int k = kAnchorKey; k > kLowestKey; --k) {
        double& down = solution.cents[k - 1 - kLowestKey];
        down = std::min(down, solution.cents[k - kLowestKey]);
    }

    // Linear propagation: ∂c/∂θ = A⁻¹·∂b/∂θ, then Jᵀ·Σθ·J per key.
    const Jacobian perParameter = ldlt.solve(system.bPerParameter);
    Eigen::Matrix<double, kParameters, kParameters> sigma;
    sigma.setZero();
    const BLine* lines[2] = {&fit.bass, &fit.treble};
    for (Eigen::Index l = 0; l < 2; ++l) {
        const Eigen::Index at = 2 * l;
        sigma(at, at) = lines[l]->covariance[0];
        sigma(at, at + 1) = sigma(at + 1, at) = lines[l]->covariance[1];
        sigma(at + 1, at + 1) = lines[l]->covariance[2];
    }
    if (bends) {
        sigma(4, 4) = kBassBendPerKey * kBassBendPerKey;
        sigma(5, 5) = kTrebleBendPerKey * kTrebleBendPerKey;
        sigma(6, 6) = 1.0;
    }
    for (int k = kLowestKey; k <= kHighestKey; ++k) {
        const int i = Unknown(k);
        if (i >= 0) {
            const Eigen::Matrix<double, 1, kParameters> row = perParameter.row(i);
            solution.variance[k - kLowestKey] =
                std::max(0.0, (row * sigma * row.transpose())(0, 0));
        }
    }
    return solution;
}

// B of a typical grand piano, from 3 × 10⁻⁴ at A0 down to 1 × 10⁻⁴ at C3,
// then up to 2 × 10⁻²  at C8: what equal temperament is measured against
// when no B is known.
BFit TypicalGrand() {
    BFit fit;
    fit.valid = true;
    fit.breakKey = 48;
    const double ln10 = std::numbers::ln10;
    fit.bass.slope = ln10 * (-4.0 + 3.52) / 27.0;
    fit.bass.intercept = ln10 * -3.52 - fit.bass.slope * 21.0;
    fit.treble.slope = ln10 * 2.3 / 60.0;
    fit.treble.intercept = ln10 * -4.0 - fit.treble.slope * 48.0;
    fit.lowestKey = kLowestKey;
    fit.highestKey = kHighestKey;
    return fit;
}

}  // namespace

double DeviationCents(const KeyTarget& key, double measuredHz) {
    return CentsBetween(measuredHz, key.targetHz);
}

Curve ComputeCurve(const std::vector<MeasuredKey>& measured, const Style& style) {
    // The last reading of each key in range.
    std::map<int, const MeasuredKey*> byKey;
    for (const MeasuredKey& key : measured) {
        if (key.midiNote >= kLowestKey && key.midiNote <= kHighestKey) {
            byKey[key.midiNote] = &key;
        }
    }
    std::vector<KeyInharmonicity> known;
    for (const auto& [note, key] : byKey) {
        if (const std::optional<KeyInharmonicity> b = KeyB(*key)) {
            known.push_back(*b);
        }
    }
    Curve curve;
    curve.style = style.name;
    const int span = known.empty() ? 0 : known.back().midiNote - known.front().midiNote;
    curve.fitted = static_cast<int>(known.size()) >= kMinFittedKeys && span >= kMinFittedSpan;
    curve.fit = curve.fitted ? FitInharmonicity(known) : FitFlatInharmonicity(known);

    Solution solution;
    std::array<StringB, kKeyCount> B{};
    if (curve.fit.valid) {
        B = BAcross(curve.fit);
        solution =
            Solve(Assemble(curve.fitted ? style : FallbackStyle(), B), curve.fit, curve.fitted);
    } else {
        // Equal temperament, as sure as a typical grand's stretch is far from it.
        const BFit typical = TypicalGrand();
        const Solution stretch = Solve(Assemble(FallbackStyle(), BAcross(typical)), typical, false);
        for (int i = 0; i < kKeyCount; ++i) {
            solution.variance[i] = stretch.cents[i] * stretch.cents[i];
        }
    }
    for (int k = kLowestKey; k <= kHighestKey; ++k) {
        const int i = k - kLowestKey;
        KeyTarget& target = curve.keys[i];
        target.midiNote = k;
        target.targetCents = solution.cents[i];
        target.targetHz = EqualTemperedHz(k) * std::exp2(solution.cents[i] / 1200.0);
        target.uncertaintyCents = std::sqrt(solution.variance[i]);
        target.inharmonicity = B[i].B;
        if (const auto found = byKey.find(k); found != byKey.end()) {
            target.measuredHz = found->second->f1Hz;
        }
    }
    std::vector<int> measuredKeys;
    measuredKeys.reserve(byKey.size());
    for (const auto& [note, key] : byKey) {
        measuredKeys.push_back(note);
    }
    std::vector<int> keysWithB;
    keysWithB.reserve(known.size());
    for (const KeyInharmonicity& b : known) {
        keysWithB.push_back(b.midiNote);
    }
    curve.advice = CurveAdvice(curve.fitted, curve.fit, measuredKeys, keysWithB);
    curve.adviceKeys = CurveAdviceKeys(curve.fitted, curve.fit, measuredKeys, keysWithB);
    return curve;
}

}  // namespace harmolune::tuning
