#pragma once
// Reads recordings for offline measurement: RIFF/WAVE files of 8-bit
// unsigned mono PCM at 32768 samples per second, block by block, without
// loading the whole file. Every other file is refused with a reason.

#include <cstdint>
#include <fstream>
#include <string>

#include "capture/Block.h"

namespace harmolune {

class WavReader {
  public:
    // Opens path and checks its header. On failure returns false and puts a
    // short reason in error ("not a RIFF/WAVE file", "16-bit samples, ...").
    bool Open(const std::string& path, std::string& error);

    // Reads the next full block of samples; false at the end of the data.
    // A trailing partial block is never returned.
    bool ReadBlock(Block& out);

    std::uint64_t DataBytes() const { return dataBytes_; }

  private:
    std::ifstream file_;
    std::uint64_t dataBytes_ = 0;  // samples in the data chunk
    std::uint64_t consumed_ = 0;
};

}  // namespace harmolune
