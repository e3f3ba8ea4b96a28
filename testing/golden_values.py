#!/usr/bin/env python3
"""Golden values for the transform and the measuring cycle, from a model of
our own in plain Python floats (IEEE doubles, one rounding per operation, no
fused multiply-add), following the C++ code's order of operations step by
step. sin, atan, log and pow are the C library's, as in the program.

    python3 testing/golden_values.py > testing/GoldenValues.h
    python3 testing/golden_values.py --check testing/GoldenValues.h

The test blocks are made with integer arithmetic only (a triangle wave from a
32-bit phase accumulator plus one step of noise from a linear congruential
generator), so that Python and C++ build the same bytes without any libm.
"""

import math
import sys

N = 4096
SAMPLE_RATE = 32768

# step: phase increment per sample, frequency * 2^32 / 32768, rounded.
# (name, step, start phase, amplitude, noise seed)
WAVES = [
    ("La 441.3 Hz", 57842074, 0x00000000, 60, 1),
    ("La 441.3 Hz, later phase", 57842074, 0x40000000, 55, 2),
    ("La 441.3 Hz, quieter", 57842074, 0x90000000, 40, 3),
    ("low Mi 82.6 Hz", 10826547, 0x12345678, 45, 4),
    ("Si 8 at 7905 Hz", 1036124160, 0x0BADF00D, 30, 5),
]

# Kept word for word in the header, next to the values it made.
CPP_WAVE = """\
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
}"""


def make_block(step, phase, amplitude, seed):
    block = []
    noise = seed
    for _ in range(N):
        p = phase >> 16
        tri = p if p < 32768 else 65535 - p
        noise = (noise * 1103515245 + 12345) & 0x7FFFFFFF
        value = 128 - amplitude + (tri * 2 * amplitude) // 32767 + (noise >> 16) % 3 - 1
        assert 0 <= value <= 255
        block.append(value)
        phase = (phase + step) & 0xFFFFFFFF
    return block


def reverse_bits(a, b):
    r = 0
    for _ in range(b):
        r = (r * 2) | (a & 1)
        a //= 2
    return r


def transform(signal_re):
    """Radix-2 decimation in time, twiddles by the trigonometric recurrence;
    Spectrum(f) = sum Signal(t) e^(+2 pi i f t / n). Imaginary input is 0."""
    n = len(signal_re)
    pi = math.atan(1.0) * 4
    bits = int(math.floor(math.log(float(n)) / math.log(2.0)))
    re = [0.0] * n
    im = [0.0] * n
    for i in range(n):
        j = reverse_bits(i, bits)
        re[j] = float(signal_re[i])
        im[j] = 0.0
    half = 1
    length = 2
    while length <= n:
        delta = (pi + pi) / length
        alpha = 2 * math.pow(math.sin(delta * 0.5), 2)
        beta = math.sin(delta)
        for s in range(0, n, length):
            wr = 1.0
            wi = 0.0
            for m in range(1, half + 1):
                u = s + m - 1
                l = u + half
                tr = wr * re[l] - wi * im[l]
                ti = wi * re[l] + wr * im[l]
                re[l] = re[u] - tr
                im[l] = im[u] - ti
                re[u] = re[u] + tr
                im[u] = im[u] + ti
                t = alpha * wr + beta * wi
                wi = wi - (alpha * wi - beta * wr)
                wr = wr - t
        half = length
        length *= 2
    return re, im


def magnitude(re, im, f):
    return math.sqrt(math.pow(im[f], 2) + math.pow(re[f], 2))


def edge_bin(edge):
    # Python's round() takes an exact half to the even integer.
    return int(round(edge / SAMPLE_RATE * N))


def tick(block, reference):
    """What one tick of the cycle gives: level, band, peak bin, estimate."""
    re, im = transform(block)
    level = max(abs(s - 128) for s in block)
    first = edge_bin(reference * 0.9)
    last = edge_bin(reference * 1.1)
    best = first
    mags = {}
    for f in range(first, last + 1):
        mags[f] = magnitude(re, im, f)
        if mags[f] > mags[best]:
            best = f
    peak = min(max(best, 1), N - 1)
    a, b = peak - 1, peak + 1
    below = magnitude(re, im, a)
    above = magnitude(re, im, b) if b < N else 0.0
    fa = float(a * SAMPLE_RATE) / N
    fb = float(b * SAMPLE_RATE) / N
    weight = above + below
    estimate = (fb * above + fa * below) / weight if weight > 0.0 else None
    return level, first, last, peak, estimate


def hexd(x):
    return x.hex()


def generate():
    blocks = [make_block(step, phase, amp, seed) for _, step, phase, amp, seed in WAVES]
    out = []
    w = out.append
    w("#pragma once")
    w("// Made by golden_values.py, beside this file, from its own model of the")
    w("// transform and the measuring cycle. Do not edit; to remake it:")
    w("//   python3 testing/golden_values.py > testing/GoldenValues.h")
    w("")
    w("#include <array>")
    w("#include <cstddef>")
    w("#include <cstdint>")
    w("")
    w("namespace harmolune::golden {")
    w("")
    w("struct Wave {")
    w("    const char* name;")
    w("    std::uint32_t step;   // phase increment per sample, 2^32 per cycle")
    w("    std::uint32_t phase;  // at sample 0")
    w("    int amplitude;")
    w("    std::uint32_t seed;")
    w("    unsigned sampleSum;  // sum of the block's 4096 samples, a check on MakeBlock")
    w("};")
    w("")
    w("inline constexpr Wave kWaves[] = {")
    for (name, step, phase, amp, seed), block in zip(WAVES, blocks):
        w(f'    {{"{name}", {step}U, 0x{phase:08X}U, {amp}, {seed}U, {sum(block)}U}},')
    w("};")
    w("")
    w(CPP_WAVE)
    w("")
    w("// Spectrum(bin) after Transform(4096) of the wave's block as Signal.Re.")
    w("struct Bin {")
    w("    int wave;")
    w("    int bin;")
    w("    double re;")
    w("    double im;")
    w("};")
    w("")
    w("inline constexpr Bin kBins[] = {")
    bins_of = {
        0: [1, 53, 54, 55, 56, 57, 700, 1234, 2047, 3001, 4041, 4095],
        1: [54, 55, 56, 2900],
        3: [9, 10, 11, 500],
        4: [987, 988, 989, 3107],
    }
    for wave, bins in bins_of.items():
        re, im = transform(blocks[wave])
        for f in bins:
            w(f"    {{{wave}, {f}, {hexd(re[f])}, {hexd(im[f])}}},")
    w("};")
    w("")
    w("// One tick of the measuring cycle on the wave's block, with the reference")
    w("// text shown for the note.")
    w("struct Tick {")
    w("    int wave;")
    w("    const char* reference;")
    w("    int level;")
    w("    int first;")
    w("    int last;")
    w("    int peak;")
    w("    double estimateHz;")
    w("};")
    w("")
    w("inline constexpr Tick kTicks[] = {")
    ticks = [(0, "440.00Hz", 440.0), (1, "440.00Hz", 440.0), (2, "440.00Hz", 440.0),
             (3, "82.41Hz", 82.41), (4, "7902.13Hz", 7902.13)]
    results = {}
    for wave, text, reference in ticks:
        level, first, last, peak, estimate = tick(blocks[wave], reference)
        results[wave] = (level, estimate)
        w(f'    {{{wave}, "{text}", {level}, {first}, {last}, {peak}, {hexd(estimate)}}},')
    w("};")
    w("")
    # A measurement of La 4 over the three La blocks, each accepted in turn.
    total = 0.0
    for wave in (0, 1, 2):
        level, estimate = results[wave]
        assert 32 <= level <= 90
        total = total + estimate
    w("// FrequencySum after the three La blocks, in that order, armed on 440.00Hz.")
    w(f"inline constexpr double kLaFrequencySum = {hexd(total)};")
    w("")
    w("}  // namespace harmolune::golden")
    return "\n".join(out) + "\n"


def main():
    text = generate()
    if len(sys.argv) == 3 and sys.argv[1] == "--check":
        with open(sys.argv[2], encoding="utf-8") as f:
            if f.read() != text:
                sys.stderr.write(sys.argv[2] + " differs from what the model gives now\n")
                return 1
        return 0
    sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
