#include "measure/MeasuringCycle.h"

#include <cmath>

#include "core/Numbers.h"

namespace harmolune {

namespace {

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

std::optional<Band> SearchBand(double referenceHz) {
    const std::optional<int> first = EdgeBin(referenceHz * kLowerBandFactor);
    const std::optional<int> last = EdgeBin(referenceHz * kUpperBandFactor);
    if (!first || !last) {
        return std::nullopt;
    }
    return Band{*first, *last};
}

std::optional<double> NeighbourEstimate(int peakBin, double magnitudeBelow, double magnitudeAbove) {
    const int a = peakBin - 1;
    const int b = peakBin + 1;
    const double fa = static_cast<double>(a * kSampleRate) / kFrameLength;
    const double fb = static_cast<double>(b * kSampleRate) / kFrameLength;
    const double weight = magnitudeAbove + magnitudeBelow;
    if (!(weight > 0.0)) {
        return std::nullopt;
    }
    return (fb * magnitudeAbove + fa * magnitudeBelow) / weight;
}

void Measurement::Arm() {
    samplingState_ = 0.0;
    frequencySum_ = 0.0;
    measuredText_ = kPlaceholderText;
}

void Measurement::NoteChosen() {
    if (samplingState_ >= 0.0) {
        samplingState_ = -1.0;
        frequencySum_ = 0.0;
        measuredText_.clear();
    }
}

void Measurement::Advance(int level, std::optional<double> estimateHz,
                          std::string_view decimalSeparator) {
    if (samplingState_ == 0.0 && level >= kSoundThreshold) {
        samplingState_ = 1.0;
    }
    // A block without an estimate adds nothing and does not count: a 0 Hz
    // estimate would only pull the mean down.
    if (samplingState_ > 0.0 && level >= kSoundThreshold && level <= kLoudnessCeiling &&
        estimateHz) {
        frequencySum_ += *estimateHz;
        samplingState_ += 1.0;
    }
    if (samplingState_ > 2.0 && level < kSoundThreshold) {
        measuredText_ =
            FormatFixed(frequencySum_ / (samplingState_ - 1.0), 2, decimalSeparator) + " Hz";
        samplingState_ = -1.0;
    }
}

MeasuringCycle::MeasuringCycle()
    : fourier_(std::make_unique<Fourier>()), fine_(std::make_unique<FineEstimator>()) {
    // Room for any reference the notes give, so that choosing one does not
    // allocate.
    referenceText_.reserve(32);
    referenceSeparator_.reserve(8);
}

bool MeasuringCycle::Arm(std::string_view referenceText, std::optional<int> midiNote,
                         std::string_view decimalSeparator, bool pianoKey) {
    if (referenceText.empty()) {
        return false;
    }
    measurement_.Arm();
    fine_->Clear();
    armedPiano_ = pianoKey;
    if (midiNote) {
        armedNote_ = *midiNote;
    } else {
        // The displayed reference is rounded to 0.01 Hz: far nearer its own
        // note than any other.
        const double hz = ReadLeadingNumber(referenceText, decimalSeparator);
        const double note = MidiNoteOf(hz);
        armedNote_ = note >= -0.5 && note < 127.5 ? static_cast<int>(std::lround(note)) : -1;
    }
    return true;
}

void MeasuringCycle::NoteChosen() {
    if (measurement_.SamplingState() >= 0.0) {
        fine_->Clear();
    } else {
        fine_->Finish();
    }
    measurement_.NoteChosen();
}

void MeasuringCycle::BlockLost() { fine_->Gap(); }

bool MeasuringCycle::Inert(const Block& samples) const {
    if (fine_->Following()) {
        return false;
    }
    const double state = measurement_.SamplingState();
    return state < 0.0 || (state == 0.0 && BlockLevel(samples) < kSoundThreshold);
}

std::optional<TickReport> MeasuringCycle::Tick(const Block& samples, std::string_view referenceText,
                                               std::string_view decimalSeparator) {
    if (referenceText.empty()) {
        return std::nullopt;
    }
    Fourier& f = *fourier_;
    for (int i = 0; i < kFrameLength; ++i) {
        f.Signal[i].Re = samples[i];
        f.Signal[i].Im = 0.0;
    }
    f.Transform(kFrameLength);

    TickReport report;
    report.level = BlockLevel(samples);
    if (referenceText != referenceText_ || decimalSeparator != referenceSeparator_) {
        referenceText_.assign(referenceText);
        referenceSeparator_.assign(decimalSeparator);
        band_ = SearchBand(ReadLeadingNumber(referenceText, decimalSeparator));
    }
    report.band = band_;
    if (report.band) {
        int peak = f.FindPeak(report.band->first, report.band->last);
        if (peak < 1) {
            peak = 1;
        }
        if (peak >= kFrameLength) {
            peak = kFrameLength - 1;
        }
        report.peakBin = peak;

        // Both neighbours are measured on this block's spectrum, even when
        // they lie outside the band searched; past the last bin there is
        // nothing.
        const int a = peak - 1;
        const int b = peak + 1;
        f.Magnitude[a] = f.BinMagnitude(a);
        double magnitudeB = 0.0;
        if (b < kSpectrumSize) {
            f.Magnitude[b] = f.BinMagnitude(b);
            magnitudeB = f.Magnitude[b];
        }
        report.estimateHz = NeighbourEstimate(peak, f.Magnitude[a], magnitudeB);
    }
    const bool armed = measurement_.SamplingState() == 0.0;
    measurement_.Advance(report.level, report.estimateHz, decimalSeparator);
    if (armed && measurement_.SamplingState() >= 1.0 && armedNote_ >= 0) {
        fine_->Start(armedNote_, armedPiano_);
    }
    fine_->Push(samples);
    return report;
}

}  // namespace harmolune
