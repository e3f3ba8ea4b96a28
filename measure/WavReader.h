#pragma once
// Reads recordings for offline measurement: RIFF/WAVE files of 8-bit
// unsigned mono PCM at 32768 samples per second, block by block, without
// loading the whole file. Every file is read as a stream, front to back,
// never sized nor sought, so that standard input, pipes and FIFOs read like
// any file. Every other format is refused with a reason.

#include <cstdint>
#include <optional>
#include <string>

#include "core/Block.h"

namespace harmolune {

// How long a FIFO may wait for someone to write to it.
inline constexpr int kWriterPatienceMs = 5000;

class WavReader {
  public:
    WavReader() = default;
    ~WavReader();
    WavReader(const WavReader&) = delete;
    WavReader& operator=(const WavReader&) = delete;

    // Opens path ("-" for standard input) and reads its header. On failure
    // returns false and puts a short reason in French in error ("ce n'est
    // pas un fichier RIFF/WAVE", "16 bits, 2 canaux, ..."), or the system's
    // own. A FIFO nobody writes to within writerPatienceMs is refused too.
    bool Open(const std::string& path, std::string& error,
              int writerPatienceMs = kWriterPatienceMs);

    // Reads the next full block of samples; false at the end of the data,
    // when it is cut short, or on a read error. A trailing partial block is
    // never returned.
    bool ReadBlock(Block& out);

    // The data chunk's size as its header gives it; nullopt for "unknown, up
    // to the end", as streaming recorders leave it: 0xFFFFFFFF, or sox's
    // 0x7FFFF000 when it writes to a pipe.
    std::optional<std::uint64_t> DeclaredBytes() const { return declaredBytes_; }
    // Once ReadBlock has returned false: the bytes of the data chunk that
    // were there, whether that is fewer than declared, and the reason when
    // reading failed (empty otherwise).
    std::uint64_t FoundBytes() const { return foundBytes_; }
    bool CutShort() const { return declaredBytes_ && foundBytes_ < *declaredBytes_; }
    const std::string& ReadError() const { return readError_; }

  private:
    // Reads up to size bytes; fewer only at the end of the stream or on an
    // error (then readError_ says which).
    std::size_t Read(unsigned char* data, std::size_t size);
    // Reads and drops size bytes; false when the stream ends first.
    bool Skip(std::uint64_t size);

    int fd_ = -1;
    bool ownsFd_ = false;
    std::optional<std::uint64_t> declaredBytes_;
    std::uint64_t foundBytes_ = 0;
    bool ended_ = false;
    std::string readError_;
};

}  // namespace harmolune
