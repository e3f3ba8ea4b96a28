#include "measure/MeasuringCycle.h"

#include <cmath>

#include "reference/Numbers.h"

namespace harmolune {

namespace {

// The nearest bin to edgeHz, or nullopt when it is not a bin of the spectrum.
std::optional<int> EdgeBin(double edgeHz) {
    // Divide first, then multiply: the rounding of exact halves depends on it
    // (396 Hz gives 49.5, which goes to 50).
    const double bin = RoundToEven(edgeHz / kSampleRate * kFrameLength);
    if (!(bin >= 0.0 && bin <= kSpectrumSize - 1)) {  // also rejects NaN
        return std::nullopt;
    }
    return static_cast<int>(bin);
}

}  // namespace

MeasuringCycle::MeasuringCycle() : fourier_(std::make_unique<Fourier>()) {}

bool MeasuringCycle::Arm(std::string_view referenceText) {
    if (referenceText.empty()) {
        return false;
    }
    samplingState_ = 0.0;
    frequencySum_ = 0.0;
    label1_ = kPlaceholderText;
    return true;
}

void MeasuringCycle::NoteChosen() {
    if (samplingState_ >= 0.0) {
        samplingState_ = -1.0;
        frequencySum_ = 0.0;
        label1_.clear();
    }
}

std::optional<TickReport> MeasuringCycle::Tick(const Block& samples,
                                               std::string_view referenceText,
                                               std::string_view decimalSeparator) {
    if (referenceText.empty()) {
        return std::nullopt;
    }
    const double lowerEdge = ReadLeadingNumber(referenceText, decimalSeparator) * kLowerBandFactor;
    const double upperEdge = ReadLeadingNumber(referenceText, decimalSeparator) * kUpperBandFactor;

    Fourier& f = *fourier_;
    for (int i = 0; i < kFrameLength; ++i) {
        f.Signal[i].Re = samples[i];
        f.Signal[i].Im = 0.0;
    }
    f.Transform(kFrameLength);

    TickReport report;
    report.level = BlockLevel(samples);

    const std::optional<int> first = EdgeBin(lowerEdge);
    const std::optional<int> last = EdgeBin(upperEdge);
    // A reference the note texts never produce (negative, huge, not a number)
    // can put the band outside the spectrum: such a block gives no estimate.
    if (!first || !last) {
        report.bandValid = false;
        report.firstBin = first.value_or(0);
        report.lastBin = last.value_or(0);
        Advance(report.level, std::nullopt, decimalSeparator);
        return report;
    }
    report.firstBin = *first;
    report.lastBin = *last;

    int peak = f.FindPeak(*first, *last);
    if (peak < 1) {
        peak = 1;
    }
    if (peak >= kFrameLength) {
        peak = kFrameLength - 1;
    }
    report.peakBin = peak;

    // Both neighbours are measured on this block's spectrum, even when they
    // lie outside the band searched; past the last bin there is nothing.
    const int a = peak - 1;
    const int b = peak + 1;
    f.Magnitude[a] = f.BinMagnitude(a);
    const double magnitudeA = f.Magnitude[a];
    double magnitudeB = 0.0;
    if (b < kSpectrumSize) {
        f.Magnitude[b] = f.BinMagnitude(b);
        magnitudeB = f.Magnitude[b];
    }
    const double fa = static_cast<double>(a * kSampleRate) / kFrameLength;
    const double fb = static_cast<double>(b * kSampleRate) / kFrameLength;
    const double weight = magnitudeB + magnitudeA;
    if (weight > 0.0) {
        report.estimateHz = (fb * magnitudeB + fa * magnitudeA) / weight;
    }

    Advance(report.level, report.estimateHz, decimalSeparator);
    return report;
}

void MeasuringCycle::Advance(int level, std::optional<double> estimateHz,
                             std::string_view separator) {
    if (samplingState_ == 0.0 && level >= kSoundThreshold) {
        samplingState_ = 1.0;
    }
    // A block without an estimate (silence in both neighbours) adds nothing
    // and does not count: a 0 Hz estimate would only pull the mean down.
    if (samplingState_ > 0.0 && level >= kSoundThreshold && level <= kLoudnessCeiling &&
        estimateHz) {
        frequencySum_ += *estimateHz;
        samplingState_ += 1.0;
    }
    if (samplingState_ > 2.0 && level < kSoundThreshold) {
        label1_ = FormatFixed(frequencySum_ / (samplingState_ - 1.0), 2, separator) + " Hz";
        samplingState_ = -1.0;
    }
}

}  // namespace harmolune
