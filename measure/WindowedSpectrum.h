#pragma once
// The fine measurement's windows and their transforms: the last blocks of a
// note, kept as a ring, and one Hann window over consecutive blocks of them,
// transformed with FFTW and evaluated directly where the FFT's bins are too
// coarse. Standard library and FFTW only; the buffers and plans are made
// once, in the constructors, and nothing is allocated per block. Called on
// one thread at a time.

#include <array>
#include <memory>
#include <mutex>

#include "core/Block.h"
#include "measure/PianoPlan.h"

namespace harmolune {

// FFTW's planner is not thread-safe; executing a plan is. Plans are made and
// destroyed under this lock.
std::mutex& PlannerLock();

// The last kMaxWindowBlocks blocks of a note, centred on 0 (128 taken off),
// with the count of blocks since the start, lost ones included.
class BlockHistory {
  public:
    BlockHistory();

    // Forgets every block: the next one is block 0.
    void Clear();
    void Push(const Block& samples);
    // A block was lost: it counts, and no window may span it.
    void Gap();

    // Blocks since Clear, lost ones included.
    long long Count() const { return count_; }
    // Blocks at the end of the ring with no gap between them, up to
    // kMaxWindowBlocks.
    int Contiguous() const { return contiguous_; }
    // Block `index` (Count() - Contiguous() <= index < Count()), kFrameLength samples.
    const double* At(long long index) const {
        return samples_.get() + (index % kMaxWindowBlocks) * kFrameLength;
    }

  private:
    // A slot is read only once a block was written to it.
    std::unique_ptr<double[]> samples_;
    long long count_ = 0;
    int contiguous_ = 0;
};

class WindowedSpectrum {
  public:
    // The longest window, in samples, and the most bins of its spectrum.
    static constexpr int kMaxLength = kMaxWindowBlocks * kFrameLength;
    static constexpr int kMostBins = kMaxLength / 2 + 1;

    WindowedSpectrum();
    ~WindowedSpectrum();
    WindowedSpectrum(const WindowedSpectrum&) = delete;
    WindowedSpectrum& operator=(const WindowedSpectrum&) = delete;

    // Windows of `blocks` blocks (a power of two up to kMaxWindowBlocks)
    // follow. Makes their Hann window the first time; pages of the long ones
    // are written only for the notes that need them.
    void SetBlocks(int blocks);
    int Length() const { return length_; }        // samples in the window
    double BinHz() const { return binHz_; }       // width of one bin, in hertz
    int Bins() const { return length_ / 2 + 1; }  // bins of its spectrum

    // The window over blocks firstBlock ... firstBlock + blocks - 1 of
    // history, without their mean, Hann-weighted and transformed.
    void Transform(const BlockHistory& history, long long firstBlock);

    // |X|² of bins from ... to of the last transform, into power[from ... to].
    void Power(int from, int to, double* power) const;

    // The frequency, in radians per sample, where ln |X(ω)|² of the last
    // window peaks, from a start within half a bin of it.
    double Refine(double omega) const;

  private:
    int PlanIndex() const;

    double* windowed_ = nullptr;    // kMaxLength samples (fftw_malloc)
    void* spectrum_ = nullptr;      // fftw_complex[kMostBins]
    std::array<void*, 6> plans_{};  // fftw_plan over 1, 2, 4, 8, 16 and 32 blocks
    std::array<std::unique_ptr<double[]>, 6> hann_;
    std::array<bool, 6> hannMade_{};
    int blocks_ = kDefaultWindowBlocks;
    int length_ = kDefaultWindowBlocks * kFrameLength;
    double binHz_ = 2.0;
};

}  // namespace harmolune
