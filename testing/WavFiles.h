#pragma once
// Writes WAV files byte by byte for the tests, so that every header field can
// be made to lie.

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

}  // namespace harmolune::testing
