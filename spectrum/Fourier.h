#pragma once
// The spectrum of one block of sound: a radix-2 decimation-in-time FFT whose
// twiddle factors come from a trigonometric recurrence, and the magnitude
// peak search over a band of bins. Standard library only.
//
// The three arrays are fixed storage owned by one Fourier object, made once
// and reused for every block; nothing here allocates.

#include <array>
#include <cstdint>

#include "core/Block.h"

namespace harmolune {

struct Complex {
    double Re = 0.0;
    double Im = 0.0;
};

// One transform per block: as many bins as samples.
inline constexpr int kSpectrumSize = kFrameLength;

// Number of index bits of n: floor(ln n / ln 2). n must be at least 1.
std::uint8_t BitCount(int n);

// The lowest b bits of a in reverse order; bits above them are dropped.
// a >= 0, b <= 15.
int ReverseBits(int a, std::uint8_t b);

class Fourier {
  public:
    // Spectrum(f) = sum over t of Signal(t) * e^(+2*pi*i*f*t/n), unscaled.
    // n is a power of two from 1 to 4096; anything else throws
    // std::invalid_argument before Spectrum is touched. Signal is only read;
    // Spectrum(n ... 4095) keeps what it held.
    void Transform(int n);

    // Writes Magnitude(first ... last) from Spectrum and returns the bin of the
    // greatest magnitude, the lowest one among equals. An empty band
    // (last < first) returns first and writes nothing. A band reaching outside
    // 0 ... 4095 throws std::invalid_argument before anything is written.
    int FindPeak(int first, int last);

    // |Spectrum(f)|, computed exactly as FindPeak computes it.
    double BinMagnitude(int f) const;

    std::array<Complex, kSpectrumSize> Signal{};
    std::array<Complex, kSpectrumSize> Spectrum{};
    std::array<double, kSpectrumSize> Magnitude{};
};

}  // namespace harmolune
