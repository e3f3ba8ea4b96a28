#include "spectrum/Fourier.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace harmolune {

std::uint8_t BitCount(int n) {
    if (n < 1) {
        throw std::invalid_argument("BitCount: n must be at least 1, got " + std::to_string(n));
    }
    // For every power of two up to 2^14 the quotient is exactly the exponent.
    return static_cast<std::uint8_t>(std::floor(std::log(static_cast<double>(n)) / std::log(2.0)));
}

int ReverseBits(int a, std::uint8_t b) {
    int r = 0;
    for (int i = 0; i < b; ++i) {
        r = (r * 2) | (a & 1);
        a /= 2;
    }
    return r;
}

void Fourier::Transform(int n) {
    if (n < 1 || n > kSpectrumSize || (n & (n - 1)) != 0) {
        throw std::invalid_argument("Transform: n must be a power of two from 1 to 4096, got " +
                                    std::to_string(n));
    }
    const double pi = std::atan(1.0) * 4;
    const std::uint8_t bits = BitCount(n);

    for (int i = 0; i < n; ++i) {
        Spectrum[ReverseBits(i, bits)] = Signal[i];
    }

    int half = 1;
    for (int length = 2; length <= n; length *= 2) {
        const double delta = (pi + pi) / length;
        // 1 - cos(delta) written as 2 sin^2(delta / 2), so that no difference
        // of nearly equal numbers is formed.
        const double alpha = 2 * std::pow(std::sin(delta * 0.5), 2);
        const double beta = std::sin(delta);
        for (int s = 0; s < n; s += length) {
            // The factor restarts from 1 at every block, so all blocks of a
            // stage see the same sequence of rounded factors.
            double wr = 1.0;
            double wi = 0.0;
            for (int m = 1; m <= half; ++m) {
                Complex& upper = Spectrum[s + m - 1];
                Complex& lower = Spectrum[s + m - 1 + half];
                const double tr = wr * lower.Re - wi * lower.Im;
                const double ti = wi * lower.Re + wr * lower.Im;
                lower.Re = upper.Re - tr;
                lower.Im = upper.Im - ti;
                upper.Re = upper.Re + tr;
                upper.Im = upper.Im + ti;
                const double t = alpha * wr + beta * wi;
                wi = wi - (alpha * wi - beta * wr);
                wr = wr - t;
            }
        }
        half = length;
    }
}

double Fourier::BinMagnitude(int f) const {
    const Complex& c = Spectrum[f];
    return std::sqrt(std::pow(c.Im, 2) + std::pow(c.Re, 2));
}

int Fourier::FindPeak(int first, int last) {
    int best = first;
    if (last < first) {
        return first;
    }
    if (first < 0 || last >= kSpectrumSize) {
        throw std::invalid_argument("FindPeak: band " + std::to_string(first) + " to " +
                                    std::to_string(last) + " lies outside 0 to 4095");
    }
    for (int f = first; f <= last; ++f) {
        Magnitude[f] = BinMagnitude(f);
        if (Magnitude[f] > Magnitude[best]) {
            best = f;
        }
    }
    return best;
}

}  // namespace harmolune
