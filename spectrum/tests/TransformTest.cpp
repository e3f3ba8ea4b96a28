// The transform against a direct DFT and against the exact values of simple
// signals; the bit helpers against hand-reversed values.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

#include "spectrum/Fourier.h"
#include "testing/GoldenValues.h"

namespace harmolune {
namespace {

constexpr int N = kSpectrumSize;
constexpr long double kPi = 3.141592653589793238462643383279502884L;

std::unique_ptr<Fourier> MakeFourier() { return std::make_unique<Fourier>(); }

TEST(BitHelpers, ReverseBitsMatchesHandReversedValues) {
    struct Case {
        int a;
        int bits;
        int expected;
    };
    const Case cases[] = {{1, 12, 2048},
                          {6, 3, 3},
                          {5, 0, 0},
                          {0, 12, 0},
                          {4095, 12, 4095},
                          {1, 3, 4},
                          {3, 3, 6},
                          {9, 3, 4},
                          {2048, 12, 1},
                          {0b101100, 6, 0b001101},
                          {1, 1, 1},
                          {2, 1, 0},
                          {1234, 12, 0b010010110010}};
    for (const Case& c : cases) {
        EXPECT_EQ(ReverseBits(c.a, static_cast<std::uint8_t>(c.bits)), c.expected)
            << "ReverseBits(" << c.a << ", " << c.bits << ")";
    }
}

TEST(BitHelpers, BitCountIsTheExponentOfTheLargestPowerOfTwoNotAbove) {
    for (int k = 0; k <= 14; ++k) {
        EXPECT_EQ(BitCount(1 << k), k) << "2^" << k;
    }
    EXPECT_EQ(BitCount(3000), 11);
    EXPECT_EQ(BitCount(3), 1);
    EXPECT_EQ(BitCount(4095), 11);
    EXPECT_THROW(BitCount(0), std::invalid_argument);
}

// Spectrum(f) = sum_t Signal(t) e^(+2 pi i f t / n), in long double.
std::vector<long double> DirectDft(const Fourier& fr, int n, int f) {
    long double re = 0;
    long double im = 0;
    for (int t = 0; t < n; ++t) {
        const long double angle = 2 * kPi * static_cast<long double>((1LL * f * t) % n) / n;
        const long double c = cosl(angle);
        const long double s = sinl(angle);
        re += fr.Signal[t].Re * c - fr.Signal[t].Im * s;
        im += fr.Signal[t].Re * s + fr.Signal[t].Im * c;
    }
    return {re, im};
}

TEST(Transform, MatchesDirectDftOnRandomComplexInput) {
    auto fr = MakeFourier();
    std::mt19937 rng(20091201);
    std::uniform_real_distribution<double> value(-255.0, 255.0);
    for (Complex& c : fr->Signal) {
        c.Re = value(rng);
        c.Im = value(rng);
    }
    fr->Transform(N);
    for (int f = 0; f < N; f += 7) {
        const std::vector<long double> expected = DirectDft(*fr, N, f);
        EXPECT_NEAR(fr->Spectrum[f].Re, static_cast<double>(expected[0]), 1e-6) << "bin " << f;
        EXPECT_NEAR(fr->Spectrum[f].Im, static_cast<double>(expected[1]), 1e-6) << "bin " << f;
    }
}

TEST(Transform, MatchesDirectDftOnSmallerSizes) {
    for (const int n : {4, 8, 64, 512}) {
        auto fr = MakeFourier();
        std::mt19937 rng(n);
        std::uniform_int_distribution<int> sample(0, 255);
        for (int t = 0; t < n; ++t) {
            fr->Signal[t].Re = sample(rng);
        }
        fr->Transform(n);
        for (int f = 0; f < n; ++f) {
            const std::vector<long double> expected = DirectDft(*fr, n, f);
            EXPECT_NEAR(fr->Spectrum[f].Re, static_cast<double>(expected[0]), 1e-8) << n;
            EXPECT_NEAR(fr->Spectrum[f].Im, static_cast<double>(expected[1]), 1e-8) << n;
        }
    }
}

TEST(Transform, ZeroSignalGivesZeroSpectrum) {
    auto fr = MakeFourier();
    fr->Spectrum.fill({7.0, -7.0});
    fr->Transform(N);
    for (int f = 0; f < N; ++f) {
        ASSERT_EQ(fr->Spectrum[f].Re, 0.0);
        ASSERT_EQ(fr->Spectrum[f].Im, 0.0);
    }
}

TEST(Transform, ImpulseAtZeroGivesOneInEveryBin) {
    auto fr = MakeFourier();
    fr->Signal[0].Re = 1.0;
    fr->Transform(N);
    for (int f = 0; f < N; ++f) {
        ASSERT_EQ(fr->Spectrum[f].Re, 1.0) << f;
        ASSERT_EQ(fr->Spectrum[f].Im, 0.0) << f;
    }
}

TEST(Transform, ImpulseAtOneShowsThePositiveExponent) {
    auto fr = MakeFourier();
    fr->Signal[1].Re = 1.0;
    fr->Transform(N);
    for (int f = 0; f < N; ++f) {
        const long double angle = 2 * kPi * f / N;
        ASSERT_NEAR(fr->Spectrum[f].Re, static_cast<double>(cosl(angle)), 1e-12) << f;
        ASSERT_NEAR(fr->Spectrum[f].Im, static_cast<double>(sinl(angle)), 1e-12) << f;
    }
    EXPECT_GT(fr->Spectrum[1].Im, 0.0);
}

TEST(Transform, ConstantGoesToBinZero) {
    auto fr = MakeFourier();
    for (Complex& c : fr->Signal) {
        c.Re = 128.0;
    }
    fr->Transform(N);
    EXPECT_EQ(fr->Spectrum[0].Re, 4096.0 * 128.0);
    EXPECT_EQ(fr->Spectrum[0].Im, 0.0);
    for (int f = 1; f < N; ++f) {
        ASSERT_NEAR(std::hypot(fr->Spectrum[f].Re, fr->Spectrum[f].Im), 0.0, 1e-9) << f;
    }
}

TEST(Transform, CosineOnBinEightHasMagnitude2048AtEightAnd4088) {
    auto fr = MakeFourier();
    for (int t = 0; t < N; ++t) {
        fr->Signal[t].Re = static_cast<double>(cosl(2 * kPi * 8 * t / N));
    }
    fr->Transform(N);
    for (int f = 0; f < N; ++f) {
        const double magnitude = std::hypot(fr->Spectrum[f].Re, fr->Spectrum[f].Im);
        const double expected = (f == 8 || f == 4088) ? 2048.0 : 0.0;
        ASSERT_NEAR(magnitude, expected, 1e-9) << "bin " << f;
    }
}

TEST(Transform, SizeOneCopiesAndSizeTwoAddsAndSubtracts) {
    auto fr = MakeFourier();
    fr->Spectrum.fill({-1.0, -1.0});
    fr->Signal[0] = {3.0, 4.0};
    fr->Signal[1] = {10.0, 20.0};
    fr->Transform(1);
    EXPECT_EQ(fr->Spectrum[0].Re, 3.0);
    EXPECT_EQ(fr->Spectrum[0].Im, 4.0);
    EXPECT_EQ(fr->Spectrum[1].Re, -1.0);
    fr->Transform(2);
    EXPECT_EQ(fr->Spectrum[0].Re, 13.0);
    EXPECT_EQ(fr->Spectrum[0].Im, 24.0);
    EXPECT_EQ(fr->Spectrum[1].Re, -7.0);
    EXPECT_EQ(fr->Spectrum[1].Im, -16.0);
    for (int f = 2; f < N; ++f) {
        ASSERT_EQ(fr->Spectrum[f].Re, -1.0) << f;
    }
}

TEST(Transform, SmallerSizeLeavesTheRestOfTheSpectrumAndTheSignalAlone) {
    auto fr = MakeFourier();
    for (int t = 0; t < N; ++t) {
        fr->Signal[t] = {static_cast<double>(t % 251), static_cast<double>(t % 13)};
        fr->Spectrum[t] = {-5.0, 5.0};
    }
    const auto signalBefore = fr->Signal;
    fr->Transform(256);
    for (int f = 256; f < N; ++f) {
        ASSERT_EQ(fr->Spectrum[f].Re, -5.0) << f;
        ASSERT_EQ(fr->Spectrum[f].Im, 5.0) << f;
    }
    fr->Transform(N);
    for (int t = 0; t < N; ++t) {
        ASSERT_EQ(fr->Signal[t].Re, signalBefore[t].Re);
        ASSERT_EQ(fr->Signal[t].Im, signalBefore[t].Im);
    }
}

TEST(Transform, RefusesSizesThatAreNotPowersOfTwoUpTo4096BeforeWriting) {
    auto fr = MakeFourier();
    fr->Signal[0].Re = 1.0;
    fr->Spectrum.fill({9.0, 9.0});
    for (const int n : {0, -1, -4096, 3, 6, 4095, 4097, 8192, 32767}) {
        EXPECT_THROW(fr->Transform(n), std::invalid_argument) << n;
    }
    for (const Complex& c : fr->Spectrum) {
        ASSERT_EQ(c.Re, 9.0);
        ASSERT_EQ(c.Im, 9.0);
    }
}

// The same steps written out independently: the twiddle factors come from
// the recurrence, not from a table, and every operation is a double in the
// documented order. Any reordering, table or fused multiply-add shows in the
// last bits.
void ReferenceSteps(const std::vector<double>& re, const std::vector<double>& im,
                    std::vector<double>& outRe, std::vector<double>& outIm) {
    const int n = static_cast<int>(re.size());
    const double pi = std::atan(1.0) * 4;
    int bits = 0;
    while ((1 << bits) < n) {
        ++bits;
    }
    outRe.assign(n, 0.0);
    outIm.assign(n, 0.0);
    for (int i = 0; i < n; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b) {
            r |= ((i >> b) & 1) << (bits - 1 - b);
        }
        outRe[r] = re[i];
        outIm[r] = im[i];
    }
    for (int half = 1; 2 * half <= n; half *= 2) {
        const int length = 2 * half;
        const double delta = (pi + pi) / length;
        const double s = std::sin(delta * 0.5);
        const double alpha = 2 * (s * s);
        const double beta = std::sin(delta);
        for (int start = 0; start < n; start += length) {
            double wr = 1.0;
            double wi = 0.0;
            for (int j = start; j < start + half; ++j) {
                const int k = j + half;
                const double tr = wr * outRe[k] - wi * outIm[k];
                const double ti = wi * outRe[k] + wr * outIm[k];
                outRe[k] = outRe[j] - tr;
                outIm[k] = outIm[j] - ti;
                outRe[j] = outRe[j] + tr;
                outIm[j] = outIm[j] + ti;
                const double oldWr = wr;
                wr = wr - (alpha * wr + beta * wi);
                wi = wi - (alpha * wi - beta * oldWr);
            }
        }
    }
}

TEST(Transform, AgreesToTheLastBitWithAnIndependentRunOfTheSameSteps) {
    auto fr = MakeFourier();
    std::mt19937 rng(4096);
    std::uniform_int_distribution<int> sample(0, 255);
    std::vector<double> re(N);
    std::vector<double> im(N, 0.0);
    for (int t = 0; t < N; ++t) {
        re[t] = sample(rng);
        fr->Signal[t] = {re[t], 0.0};
    }
    std::vector<double> outRe;
    std::vector<double> outIm;
    ReferenceSteps(re, im, outRe, outIm);
    fr->Transform(N);
    for (int f = 0; f < N; ++f) {
        ASSERT_EQ(fr->Spectrum[f].Re, outRe[f]) << "bin " << f;
        ASSERT_EQ(fr->Spectrum[f].Im, outIm[f]) << "bin " << f;
    }
}

// Exact bits from golden_values.py, a model of the same steps in Python
// beside this file: unlike the run above, no compiler flag of this build
// reaches it, so a fused multiply-add or a reassociation shows here.
TEST(Transform, GivesTheBitsOfTheModelWrittenInPython) {
    auto fr = MakeFourier();
    int transformed = -1;
    for (const golden::Bin& g : golden::kBins) {
        const golden::Wave& wave = golden::kWaves[g.wave];
        if (g.wave != transformed) {
            const auto block = golden::MakeBlock(wave);
            ASSERT_EQ(std::accumulate(block.begin(), block.end(), 0U), wave.sampleSum) << wave.name;
            for (int t = 0; t < N; ++t) {
                fr->Signal[t] = {static_cast<double>(block[t]), 0.0};
            }
            fr->Transform(N);
            transformed = g.wave;
        }
        EXPECT_EQ(fr->Spectrum[g.bin].Re, g.re) << wave.name << ", bin " << g.bin;
        EXPECT_EQ(fr->Spectrum[g.bin].Im, g.im) << wave.name << ", bin " << g.bin;
    }
}

}  // namespace
}  // namespace harmolune
