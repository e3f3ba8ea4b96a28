#pragma once
// Writes WAV files byte by byte for the tests, so that every header field can
// be made to lie.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/Files.h"

namespace harmolune::testing {

struct WavLayout {
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 1;
    std::uint32_t rate = 32768;
    std::uint16_t bits = 8;
    std::vector<std::uint8_t> samples;
    // Declared sizes; by default the true ones.
    std::int64_t declaredData = -1;
    bool extraChunkBeforeFormat = false;  // an odd-sized LIST chunk
    bool extraChunkBeforeData = false;
};

inline void Put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>(v >> (8 * i)));
    }
}
inline void Put16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v));
    out.push_back(static_cast<char>(v >> 8));
}

inline std::string WavBytes(const WavLayout& w) {
    std::string body = "WAVE";
    const auto extra = [&body] {
        body += "LIST";
        Put32(body, 5);
        body += "abcde";
        body.push_back('\0');  // pad byte
    };
    if (w.extraChunkBeforeFormat) {
        extra();
    }
    body += "fmt ";
    Put32(body, 16);
    Put16(body, w.formatTag);
    Put16(body, w.channels);
    Put32(body, w.rate);
    Put32(body, w.rate * w.channels * w.bits / 8);
    Put16(body, static_cast<std::uint16_t>(w.channels * w.bits / 8));
    Put16(body, w.bits);
    if (w.extraChunkBeforeData) {
        extra();
    }
    body += "data";
    Put32(body, w.declaredData >= 0 ? static_cast<std::uint32_t>(w.declaredData)
                                    : static_cast<std::uint32_t>(w.samples.size()));
    body.append(w.samples.begin(), w.samples.end());
    std::string file = "RIFF";
    Put32(file, static_cast<std::uint32_t>(body.size()));
    return file + body;
}

// Three seconds of a sine at level 60 of 128 (inside the accepted 32 to 90),
// 8-bit at 32768 Hz, faded in and out over three blocks. A tone that starts
// or stops abruptly leaves a block holding a few milliseconds of it: the
// level, a peak, counts the block, and so short a piece of a sine can read
// tens of hertz off. Faded, the block where the tone starts or stops stays
// below level 16 and is not counted, as an instrument's would not be.
inline std::string FadedToneWav(double toneHz) {
    constexpr int kRate = 32768;
    constexpr int kBlock = 4096;
    WavLayout tone;
    const int length = 3 * kRate;
    const int fade = 3 * kBlock;
    for (int t = 0; t < length; ++t) {
        const int edge = std::min(t, length - 1 - t);
        const double gain = edge >= fade ? 1.0 : (1 - std::cos(M_PI * edge / fade)) / 2;
        tone.samples.push_back(static_cast<std::uint8_t>(
            128 + std::lround(60 * gain * std::sin(2 * M_PI * toneHz * t / kRate))));
    }
    return WavBytes(tone);
}

}  // namespace harmolune::testing
