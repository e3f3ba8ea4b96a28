#pragma once
// Tells a strike of the chosen note from whatever else the microphone hears,
// block by block: the note's partials must rise, at least one of them clearly
// above the noise, with nothing loud below or between the partials of the
// band's peak (a voice whose harmonic glides into the band, a lower key whose
// partial falls on the note). The mains hum, a room's noise and a note
// ringing on rise in no such way. Standard library and
// FFTW only; its buffers and plan are made once. One thread at a time.

#include <array>
#include <vector>

#include "core/Block.h"

namespace harmolune {

class StrikeDetector {
  public:
    StrikeDetector();
    ~StrikeDetector();
    StrikeDetector(const StrikeDetector&) = delete;
    StrikeDetector& operator=(const StrikeDetector&) = delete;

    // The note listened for, in hertz; forgets what came before.
    void SetNote(double referenceHz);

    // The next `blocks` blocks start no strike: they carry the window's own
    // reference tone, which has just been played.
    void Mask(int blocks);

    // The next block; true when a strike of the note starts in it. The first
    // block after SetNote starts none. Blocks lost in between change nothing:
    // the next one is compared with the last.
    bool Push(const Block& samples);

    // Of the last block: the power of the note's partials, and how many of
    // them stand clearly above the noise.
    double NotePower() const { return notePower_; }
    int ClearPartials() const { return clearPartials_; }

  private:
    // The block's spectrum, the power of the note's partials and of what
    // lies below and between them.
    void Analyse(const Block& samples, double mean);
    double Band(double centreHz, double halfWidthHz) const;

    double* samples_ = nullptr;  // kFrameLength, Hann-weighted (fftw_malloc)
    void* spectrum_ = nullptr;   // fftw_complex[kFrameLength / 2 + 1]
    void* plan_ = nullptr;
    std::vector<double> hann_;
    std::vector<double> power_;
    std::vector<double> scratch_;

    double referenceHz_ = 0.0;
    double notePower_ = 0.0;
    // The note's power in the blocks before, by block number.
    static constexpr int kRecentBlocks = 4;
    std::array<double, kRecentBlocks> recentNote_{};
    long long blocks_ = 0;
    double loudestSinceStrike_ = 0.0;  // the note's power since the last strike
    double belowPower_ = 0.0;          // where the note has no partial, below and between them
    int clearPartials_ = 0;
    int masked_ = 0;
    int sinceStrike_ = 1000;  // blocks since the last strike
    bool primed_ = false;     // a block has been heard since SetNote
};

}  // namespace harmolune
