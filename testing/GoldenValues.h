#pragma once
// Made by golden_values.py, beside this file, from its own model of the
// transform and the measuring cycle. Do not edit; to remake it:
//   python3 testing/golden_values.py > testing/GoldenValues.h

#include <array>
#include <cstddef>
#include <cstdint>

namespace harmolune::golden {

struct Wave {
    const char* name;
    std::uint32_t step;   // phase increment per sample, 2^32 per cycle
    std::uint32_t phase;  // at sample 0
    int amplitude;
    std::uint32_t seed;
    unsigned sampleSum;  // sum of the block's 4096 samples, a check on MakeBlock
};

inline constexpr Wave kWaves[] = {
    {"La 441.3 Hz", 57842074U, 0x00000000U, 60, 1U, 521799U},
    {"La 441.3 Hz, later phase", 57842074U, 0x40000000U, 55, 2U, 522412U},
    {"La 441.3 Hz, quieter", 57842074U, 0x90000000U, 40, 3U, 522481U},
    {"low Mi 82.6 Hz", 10826547U, 0x12345678U, 45, 4U, 521947U},
    {"Si 8 at 7905 Hz", 1036124160U, 0x0BADF00DU, 30, 5U, 522276U},
};

// One block of the wave: a triangle from a 32-bit phase accumulator, plus
// -1, 0 or +1 from a linear congruential generator. Integers only.
inline std::array<std::uint8_t, 4096> MakeBlock(const Wave& w) {
    std::array<std::uint8_t, 4096> block{};
    std::uint32_t phase = w.phase;
    std::uint32_t noise = w.seed;
    for (std::size_t i = 0; i < block.size(); ++i) {
        const std::uint32_t p = phase >> 16;                  // 0 ... 65535
        const std::uint32_t tri = p < 32768 ? p : 65535 - p;  // 0 ... 32767
        noise = (noise * 1103515245U + 12345U) & 0x7FFFFFFFU;
        const int value =
            128 - w.amplitude +
            static_cast<int>(tri * 2U * static_cast<std::uint32_t>(w.amplitude) / 32767U) +
            static_cast<int>((noise >> 16) % 3U) - 1;
        block[i] = static_cast<std::uint8_t>(value);
        phase += w.step;
    }
    return block;
}

// Spectrum(bin) after Transform(4096) of the wave's block as Signal.Re.
struct Bin {
    int wave;
    int bin;
    double re;
    double im;
};

inline constexpr Bin kBins[] = {
    {0, 1, -0x1.d2a088846b7f4p+8, 0x1.93135c1f36fdap+4},
    {0, 53, -0x1.9279b780d5e88p+12, 0x1.b0354e36fb12cp+11},
    {0, 54, -0x1.6f7487ecbf639p+13, 0x1.9482dcb81fbc2p+12},
    {0, 55, -0x1.456cf88259003p+16, 0x1.6abcca0cc5325p+15},
    {0, 56, 0x1.f4690aae2358fp+13, -0x1.1df96fbdd2806p+13},
    {0, 57, 0x1.c22c55a86eb31p+12, -0x1.063fdda2b3583p+12},
    {0, 700, -0x1.6170556a83999p+4, 0x1.ccf229cc3687cp+2},
    {0, 1234, 0x1.7166f6f8c07edp+3, -0x1.79f9ad1b8be61p+4},
    {0, 2047, -0x1.1863f0bbc19e0p+3, -0x1.82a7bac5f8f5bp+4},
    {0, 3001, 0x1.06f4dd947890ap+5, 0x1.8cd5ced05dddcp+3},
    {0, 4041, -0x1.456cf88259002p+16, -0x1.6abcca0cc532fp+15},
    {0, 4095, -0x1.d2a088846b7dbp+8, -0x1.93135c1f37069p+4},
    {1, 54, 0x1.740b62719bdf6p+12, 0x1.4a59e7e309448p+13},
    {1, 55, 0x1.4d8181ecab84ap+15, 0x1.29984a28b412cp+16},
    {1, 56, -0x1.0328c844a778ep+13, -0x1.d0f09319dc6d7p+13},
    {1, 2900, 0x1.24a161512c533p+5, 0x1.b2f27f20c8350p+5},
    {3, 9, -0x1.b302302b23694p+10, 0x1.bb266289e727ep+13},
    {3, 10, -0x1.9782566b9c0c0p+12, 0x1.dd3f49885fa02p+15},
    {3, 11, 0x1.7542b78360edep+11, -0x1.e148bb648387ap+14},
    {3, 500, -0x1.467d53045ce13p+3, -0x1.2b08dd5e5f9b8p+6},
    {4, 987, -0x1.0861a2888cf58p+12, 0x1.ad90ed5c89ab0p+11},
    {4, 988, -0x1.26efb8fa5d7c8p+15, 0x1.dbbaaa37aa998p+14},
    {4, 989, 0x1.4eaec45f41cadp+12, -0x1.0d34e82c93707p+12},
    {4, 3107, 0x1.4eaec45f41ca7p+12, 0x1.0d34e82c9370bp+12},
};

// One tick of the measuring cycle on the wave's block, with the reference
// text shown for the note.
struct Tick {
    int wave;
    const char* reference;
    int level;
    int first;
    int last;
    int peak;
    double estimateHz;
};

inline constexpr Tick kTicks[] = {
    {0, "440.00Hz", 61, 50, 61, 55, 0x1.b942ba1c7e318p+8},
    {1, "440.00Hz", 56, 50, 61, 55, 0x1.b9582b26d0d7bp+8},
    {2, "440.00Hz", 41, 50, 61, 55, 0x1.b9504268a74c6p+8},
    {3, "82.41Hz", 46, 9, 11, 10, 0x1.4bc915f3fd8d3p+6},
    {4, "7902.13Hz", 31, 889, 1087, 988, 0x1.ee0ec5e670c46p+12},
};

// FrequencySum after the three La blocks, in that order, armed on 440.00Hz.
inline constexpr double kLaFrequencySum = 0x1.4afac9eafd956p+10;

}  // namespace harmolune::golden
