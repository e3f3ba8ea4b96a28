#pragma once
// Reads the recordings people have (WAV of any sample format, FLAC, Ogg
// Vorbis and Opus, MP3, AIFF: whatever libsndfile reads) and hands them out
// as the window's capture would have received the same sound: the channels
// mixed to mono by their mean, resampled to 32768 Hz by libsoxr at very high
// quality, and scaled to 8-bit unsigned samples as the sound server scales a
// float stream. The file is read in pieces of a fixed number of frames into
// buffers made at Open, and converted as a stream, so a recording of any
// length takes the same memory.
//
// A file or a block of memory (for the fuzz target) only: libsndfile needs to
// seek in most formats, so standard input and pipes stay with WavReader.

#include <sndfile.h>
#include <soxr.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/Block.h"

namespace harmolune {

// A float sample (full scale ±1) as PulseAudio hands it to a client that
// records 8-bit unsigned: x·127 + 128, computed in double and kept as a float,
// clamped to 0..255, then rounded to the nearest, ties to even. So +1 gives
// 255, −1 gives 1, and only what lies below −1 reaches 0.
std::uint8_t ServerU8FromFloat(float x);

class SoundFile {
  public:
    // The lowest and highest sample rates read, in hertz. Below 1000 Hz there
    // is nothing left to measure; the bounds also keep the resampling ratio,
    // and so the work per frame, within reason.
    static constexpr int kLowestRate = 1000;
    static constexpr int kHighestRate = 1000000;

    SoundFile() = default;
    ~SoundFile();
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    // Opens a regular file. On failure returns false and puts one line in
    // error: the system's reason, or words of our own followed by
    // libsndfile's text.
    bool Open(const std::string& path, std::string& error);
    // Opens size bytes at data, which must outlive the reading.
    bool OpenMemory(const std::uint8_t* data, std::size_t size, std::string& error);

    // What the file holds, for example "48000 Hz, 2 canaux, 24 bits".
    const std::string& Description() const { return description_; }

    // The next full block of converted samples; false at the end (a trailing
    // partial block is never returned) or when reading fails (ReadError).
    bool ReadBlock(Block& out);

    // Once ReadBlock has returned false: libsndfile's reason when reading
    // failed, empty at a clean end.
    const std::string& ReadError() const { return readError_; }

    // The largest |sample − 128| of the blocks returned so far, 0 to 128.
    int PeakLevel() const { return peakLevel_; }

  private:
    // Memory read through libsndfile's virtual I/O.
    struct Memory {
        const std::uint8_t* data = nullptr;
        sf_count_t size = 0;
        sf_count_t position = 0;
    };
    static sf_count_t MemoryLength(void* memory);
    static sf_count_t MemorySeek(sf_count_t offset, int whence, void* memory);
    static sf_count_t MemoryRead(void* to, sf_count_t count, void* memory);
    static sf_count_t MemoryWrite(const void* from, sf_count_t count, void* memory);
    static sf_count_t MemoryTell(void* memory);

    // After sf_open*: checks the stream, makes the buffers and the resampler.
    bool Prepare(std::string& error);
    void Close();
    // Makes more resampled samples; false once everything has come out or
    // reading failed.
    bool Refill();

    int fd_ = -1;  // the file's descriptor, which libsndfile leaves open
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    Memory memory_;
    soxr_t resampler_ = nullptr;
    std::string description_;
    // Made once at Open: interleaved frames as read, their mean, and what
    // the resampler gave, with the part not yet handed out.
    std::vector<float> frames_;
    std::vector<float> mono_;
    std::size_t monoNext_ = 0;
    std::size_t monoEnd_ = 0;
    std::vector<float> resampled_;
    std::size_t resampledNext_ = 0;
    std::size_t resampledEnd_ = 0;
    bool inputEnded_ = false;
    bool drained_ = false;
    std::string readError_;
    int peakLevel_ = 0;
};

}  // namespace harmolune
