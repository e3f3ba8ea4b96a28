// The piano's partials: where the fine measurement looks for partials 2 to
// 16 in a window, which of them agree with one stiff string, and that
// string's fit.

#include <algorithm>
#include <cmath>

#include "measure/WindowEstimator.h"

namespace harmolune {

std::optional<StiffStringFit> FitStiffString(const Partial* partials, int count) {
    double sw = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    int lowest = kMaxPartials + 1;
    int highest = 0;
    for (int i = 0; i < count; ++i) {
        const double n = partials[i].number;
        const double x = n * n;
        const double y = (partials[i].frequencyHz / n) * (partials[i].frequencyHz / n);
        const double w = n * n;
        sw += w;
        sx += w * x;
        sy += w * y;
        sxx += w * x * x;
        sxy += w * x * y;
        lowest = std::min(lowest, partials[i].number);
        highest = std::max(highest, partials[i].number);
    }
    const double det = sw * sxx - sx * sx;
    if (highest <= lowest || !(det > 0.0)) {
        return std::nullopt;
    }
    StiffStringFit fit;
    fit.f0SquaredB = (sw * sxy - sx * sy) / det;
    fit.f0Squared = (sy - fit.f0SquaredB * sx) / sw;
    if (!(fit.f0Squared > 0.0)) {
        return std::nullopt;
    }
    return fit;
}

// Partials 2 to 16 of a piano key, each looked for where the partials found
// so far put it: at first within 6 % of the note's harmonic (a stretched
// tuning, an unknown B), then ever closer as the fit learns B. Fills found_;
// fittedF1 is where they put the fundamental, 0 with none found. Returns how
// many were found.
int WindowEstimator::MeasurePartials(double& fittedF1) {
    foundCount_ = 0;
    fittedF1 = 0.0;
    const int bins = spectrum_.Bins();
    const double binHz = spectrum_.BinHz();
    double f0Squared = referenceHz_ * referenceHz_ / (1.0 + priorB_);
    double f0SquaredB = f0Squared * priorB_;
    int missed = 0;
    for (int n = 2; n <= kMaxPartials; ++n) {
        const double predicted = n * std::sqrt(f0Squared + f0SquaredB * n * n);
        if (predicted > kHighestPartialHz || predicted / binHz > bins - 8) {
            break;
        }
        const double tolerance = foundCount_ == 0 ? 0.06 : foundCount_ == 1 ? 0.03 : 0.01;
        const double halfWidth =
            std::min(std::max(3.0 * binHz, tolerance * predicted), 0.4 * std::sqrt(f0Squared));
        const std::optional<Peak> p =
            peaks_.FindPartial(predicted - halfWidth, predicted + halfWidth, kMinPartialToNoise);
        if (!p) {
            // A struck string's partials 2 and 3 are among its strongest, and
            // its partials do not vanish three in a row: the chain ends here.
            if (++missed >= 3 || (n == 3 && foundCount_ == 0)) {
                break;
            }
            continue;
        }
        missed = 0;
        found_[foundCount_] = {n, p->frequencyHz};
        foundAmplitude_[foundCount_] = std::sqrt(p->power);
        ++foundCount_;
        const std::optional<StiffStringFit> fit =
            foundCount_ >= 2 ? FitStiffString(found_.data(), foundCount_) : std::nullopt;
        if (fit && fit->f0SquaredB >= 0.0) {
            f0Squared = fit->f0Squared;
            f0SquaredB = fit->f0SquaredB;
        } else if (foundCount_ == 1) {
            const double perN = p->frequencyHz / n;
            f0Squared = perN * perN / (1.0 + priorB_ * n * n);
            f0SquaredB = f0Squared * priorB_;
        }
    }
    if (foundCount_ > 0) {
        fittedF1 = std::sqrt(f0Squared + f0SquaredB);
    }
    return foundCount_;
}

// Sets aside, one at a time, the partial of found_ farthest from the stiff
// string fitted to all of them, while one lies more than 1 % from it (a real
// string's partials stray by a few cents). False, and found_ left as it is,
// when fewer than three agree.
bool WindowEstimator::KeepStiffString() {
    constexpr double kMostStray = 0.01;
    while (foundCount_ >= 3) {
        const std::optional<StiffStringFit> fit = FitStiffString(found_.data(), foundCount_);
        if (!fit || fit->f0SquaredB < 0.0) {
            return false;
        }
        int worst = 0;
        double worstStray = 0.0;
        for (int i = 0; i < foundCount_; ++i) {
            const double n = found_[i].number;
            const double predicted = n * std::sqrt(fit->f0Squared + fit->f0SquaredB * n * n);
            const double stray = std::abs(found_[i].frequencyHz / predicted - 1.0);
            if (stray > worstStray) {
                worstStray = stray;
                worst = i;
            }
        }
        if (worstStray <= kMostStray) {
            return true;
        }
        for (int i = worst; i + 1 < foundCount_; ++i) {
            found_[i] = found_[i + 1];
            foundAmplitude_[i] = foundAmplitude_[i + 1];
        }
        --foundCount_;
    }
    return false;
}

}  // namespace harmolune
