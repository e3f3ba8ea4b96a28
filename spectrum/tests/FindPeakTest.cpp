// The peak search: band edges, ties, empty and single-bin bands, and what it
// leaves outside the band.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "spectrum/Fourier.h"

namespace harmolune {
namespace {

class FindPeakTest : public ::testing::Test {
  protected:
    // Bin f gets the complex value (re, im) whose magnitude is given.
    void SetMagnitude(int f, double magnitude) {
        fr->Spectrum[f] = {0.6 * magnitude, 0.8 * magnitude};
    }
    std::unique_ptr<Fourier> fr = std::make_unique<Fourier>();
};

TEST_F(FindPeakTest, ReturnsTheStrongestBinAndWritesTheBandsMagnitudes) {
    SetMagnitude(50, 10.0);
    SetMagnitude(55, 40.0);
    SetMagnitude(61, 30.0);
    EXPECT_EQ(fr->FindPeak(50, 61), 55);
    EXPECT_DOUBLE_EQ(fr->Magnitude[50], 10.0);
    EXPECT_DOUBLE_EQ(fr->Magnitude[55], 40.0);
    EXPECT_DOUBLE_EQ(fr->Magnitude[61], 30.0);
    EXPECT_EQ(fr->Magnitude[51], 0.0);
}

TEST_F(FindPeakTest, MagnitudeIsTheModulusOfTheComplexBin) {
    fr->Spectrum[7] = {3.0, -4.0};
    fr->FindPeak(7, 7);
    EXPECT_EQ(fr->Magnitude[7], 5.0);
}

TEST_F(FindPeakTest, EdgesTiesAndFlatBands) {
    struct Case {
        const char* what;
        int first;
        int last;
        std::initializer_list<std::pair<int, double>> magnitudes;
        int expected;
    };
    const Case cases[] = {
        {"all zero: the first bin", 50, 61, {}, 50},
        {"all equal: the first bin", 10, 14, {{10, 3}, {11, 3}, {12, 3}, {13, 3}, {14, 3}}, 10},
        {"tie: the lower bin", 50, 61, {{53, 8}, {58, 8}}, 53},
        {"maximum at the first bin", 50, 61, {{50, 9}, {51, 2}}, 50},
        {"maximum at the last bin", 50, 61, {{60, 2}, {61, 9}}, 61},
        {"single bin", 4, 4, {{4, 1}, {5, 99}}, 4},
        {"whole spectrum", 0, 4095, {{4095, 2}, {0, 1}}, 4095},
    };
    for (const Case& c : cases) {
        auto fresh = std::make_unique<Fourier>();
        for (const auto& [bin, m] : c.magnitudes) {
            fresh->Spectrum[bin] = {0.6 * m, 0.8 * m};
        }
        EXPECT_EQ(fresh->FindPeak(c.first, c.last), c.expected) << c.what;
    }
}

TEST_F(FindPeakTest, EmptyBandReturnsFirstAndWritesNothing) {
    SetMagnitude(20, 5.0);
    EXPECT_EQ(fr->FindPeak(20, 19), 20);
    EXPECT_EQ(fr->Magnitude[20], 0.0);
    EXPECT_EQ(fr->Magnitude[19], 0.0);
}

TEST_F(FindPeakTest, OverlappingBandsKeepOldValuesOutsideTheNewBand) {
    SetMagnitude(10, 1.0);
    SetMagnitude(15, 2.0);
    fr->FindPeak(10, 15);
    SetMagnitude(10, 100.0);
    SetMagnitude(15, 200.0);
    fr->FindPeak(12, 20);
    EXPECT_DOUBLE_EQ(fr->Magnitude[10], 1.0);    // only in the old band
    EXPECT_DOUBLE_EQ(fr->Magnitude[15], 200.0);  // in the new band
}

TEST_F(FindPeakTest, BandOutsideTheSpectrumThrowsBeforeWriting) {
    SetMagnitude(4090, 7.0);
    SetMagnitude(0, 7.0);
    EXPECT_THROW(fr->FindPeak(4090, 4096), std::invalid_argument);
    EXPECT_THROW(fr->FindPeak(-1, 5), std::invalid_argument);
    EXPECT_THROW(fr->FindPeak(-10, 10000), std::invalid_argument);
    EXPECT_EQ(fr->Magnitude[4090], 0.0);
    EXPECT_EQ(fr->Magnitude[0], 0.0);
}

}  // namespace
}  // namespace harmolune
