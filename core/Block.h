#pragma once
// One block of captured sound and the analysis constants it is cut by.
// Standard library only.

#include <array>
#include <cstdint>

namespace harmolune {

// Samples per second: 2^15.
inline constexpr int kSampleRate = 32768;
// Samples per block and per transform: 2^12, 125 ms at kSampleRate.
inline constexpr int kFrameLength = 4096;

// Unsigned 8-bit PCM, silence at 128.
using Block = std::array<std::uint8_t, kFrameLength>;

// Peak level of a block: the largest |sample - 128|, 0 to 128.
// A 0 sample gives 128, a 255 sample 127.
int BlockLevel(const Block& samples);

}  // namespace harmolune
