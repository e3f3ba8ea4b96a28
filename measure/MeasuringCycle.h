#pragma once
// The measuring cycle: arming a measurement, and one analysis per captured
// block that estimates the frequency near the chosen note, gates it by the
// block's level, averages the accepted estimates and, once the sound has died
// away, gives the mean as the text of the measured-frequency display.
// Standard library only; called on the UI thread only.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/Block.h"
#include "core/Pitch.h"
#include "measure/FineEstimator.h"
#include "spectrum/Fourier.h"

namespace harmolune {

inline constexpr int kSoundThreshold = 32;   // level 32 or more is sound
inline constexpr int kLoudnessCeiling = 90;  // level 91 or more is not accepted
inline constexpr std::string_view kPlaceholderText = "...Hz";

struct Band {
    int first = 0;
    int last = 0;
};

// The bins from 0.9 to 1.1 times the reference, each edge rounded to the
// nearest bin (an exact half to the even one). nullopt when an edge is not a
// bin of the spectrum (a negative, huge or non-numeric reference).
std::optional<Band> SearchBand(double referenceHz);

// The magnitude-weighted mean of the frequencies of the two neighbours of
// peakBin, in hertz; nullopt when both magnitudes are 0.
std::optional<double> NeighbourEstimate(int peakBin, double magnitudeBelow, double magnitudeAbove);

// The state of one measurement and the display text it produces.
class Measurement {
  public:
    // The click on the sampling button with a note chosen: a new measurement.
    void Arm();

    // A note was chosen: an armed or counting measurement is dropped and the
    // display emptied, so that two notes never share one mean.
    void NoteChosen();

    // One block's level (0 to 128) and estimate (none when the block has no
    // weighted mean); the result is written with decimalSeparator.
    void Advance(int level, std::optional<double> estimateHz, std::string_view decimalSeparator);

    // -1 idle, 0 armed, n >= 1 counting with n - 1 estimates accepted.
    double SamplingState() const { return samplingState_; }
    // Sum of the accepted estimates, in hertz.
    double FrequencySum() const { return frequencySum_; }
    // What the measured-frequency display (Label1) shows: "", "...Hz" or
    // e.g. "441.00 Hz".
    const std::string& MeasuredText() const { return measuredText_; }

  private:
    double samplingState_ = -1.0;
    double frequencySum_ = 0.0;
    std::string measuredText_;
};

// What one block gave, for the command-line tool and the tests.
struct TickReport {
    int level = 0;                     // BlockLevel, 0 to 128
    std::optional<Band> band;          // none when the reference puts it outside the spectrum
    int peakBin = 0;                   // after keeping it inside 1 ... 4095
    std::optional<double> estimateHz;  // none when the block has no weighted mean
};

class MeasuringCycle {
  public:
    MeasuringCycle();

    // The click on the sampling button. referenceText is the reference display's
    // text, written with decimalSeparator; an empty one means no note is
    // chosen: nothing changes and false is returned, for the caller to say so.
    // midiNote is the chosen note, which the fine measurement follows; without
    // it, the note nearest to the reference text is taken. pianoKey says the
    // note is a piano key: the fine measurement then scales its window to the
    // note and measures the partials and the inharmonicity.
    bool Arm(std::string_view referenceText, std::optional<int> midiNote = std::nullopt,
             std::string_view decimalSeparator = ".", bool pianoKey = false);

    // Another note was chosen: an open measurement is dropped, with its fine
    // measurement; after a result, the fine measurement stops there.
    void NoteChosen();

    // A captured block never arrived (the reader fell behind, or the sound
    // went away): the fine measurement does not bridge the gap.
    void BlockLost();

    // One block. referenceText is the reference display's text, written with
    // decimalSeparator, which the result is written with too. With an empty
    // reference nothing happens and nullopt is returned. The text changes only
    // when a note is chosen: it is read once, and its band kept until then.
    std::optional<TickReport> Tick(const Block& samples, std::string_view referenceText,
                                   std::string_view decimalSeparator);

    double SamplingState() const { return measurement_.SamplingState(); }
    // True when ticking this block would change nothing but the report:
    // nothing is measured, or the measurement waits for sound and this block
    // is too quiet to start it, and no note is followed. The window need not
    // analyse such a block.
    bool Inert(const Block& samples) const;
    double FrequencySum() const { return measurement_.FrequencySum(); }
    // What the measured-frequency display (Label1) shows.
    const std::string& MeasuredText() const { return measurement_.MeasuredText(); }

    // The fine measurement of the note, beside the mean of the measured text: it starts
    // with the count, leaves out the attack and follows the note through its
    // decay, also below the accepted levels and after the result is shown.
    std::optional<FineReading> Fine() const { return fine_->Reading(); }
    // True while the fine measurement still takes blocks.
    bool FineFollowing() const { return fine_->Following(); }

  private:
    std::unique_ptr<Fourier> fourier_;     // 160 KiB, made once
    std::unique_ptr<FineEstimator> fine_;  // 3 MiB, made once
    Measurement measurement_;
    int armedNote_ = -1;  // MIDI key number of the note measured, -1 for none
    bool armedPiano_ = false;
    // The reference text last read, with its separator, and the band it gives.
    std::string referenceText_;
    std::string referenceSeparator_;
    std::optional<Band> band_;
};

}  // namespace harmolune
