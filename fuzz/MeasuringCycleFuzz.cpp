// Fuzzes the measuring cycle with any sequence of clicks and blocks. The
// input is read as a program: each operation is a click on the sampling
// button with a reference text, a block of sound with a reference text and a
// decimal separator, or the choice of a note. After every operation:
// SamplingState is -1, 0 or a whole count of at least 1; FrequencySum is a
// finite sum of estimates; Label1 is empty, "...Hz", or a mean that lies
// between the lowest and the highest estimate that could have been accepted
// since the measurement was armed, each of which lies within one bin of the
// band searched for its block.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "measure/MeasuringCycle.h"

namespace {

using harmolune::Block;
using harmolune::fuzz::FuzzInput;

constexpr double kBinHz = 8.0;
constexpr int kMaxOperations = 48;

// Reference texts as the window writes them, and texts it never writes.
constexpr std::array<std::string_view, 12> kReferences{
    "",        "440.00Hz", "261,63Hz", "82.41Hz", "7902.13Hz", "8.18Hz",
    "32.70Hz", "abc",      "-440Hz",   "1e308Hz", "29800Hz",   "nan"};

std::string_view Reference(FuzzInput& in) {
    const std::uint8_t pick = in.Byte();
    if (pick < 0xF0) {
        return kReferences[pick % kReferences.size()];
    }
    return in.Text(24);
}

void FillBlock(FuzzInput& in, Block& block) {
    const std::uint8_t kind = in.Byte() % 6;
    switch (kind) {
        case 0:  // silence, or a constant offset
            block.fill(in.Byte() % 2 == 0 ? 128 : in.Byte());
            break;
        case 1:
        case 2: {  // a tone of any frequency and level, clipped when too loud
            const double hz = in.Word() % 160000 / 10.0;
            const double amplitude = in.Byte() * (kind == 2 ? 4.0 : 0.6);
            const double phase = in.Byte() / 256.0 * 2 * std::numbers::pi;
            for (int t = 0; t < harmolune::kFrameLength; ++t) {
                const double v =
                    128.0 +
                    amplitude *
                        std::sin(2 * std::numbers::pi * hz * t / harmolune::kSampleRate + phase);
                block[t] = static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
            }
            break;
        }
        case 3: {  // noise of a chosen spread around silence
            std::uint32_t state = in.Word() | 1U;
            const int spread = in.Byte() + 1;
            for (auto& s : block) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                s = static_cast<std::uint8_t>(
                    std::clamp(128 + static_cast<int>(state % (2U * spread)) - spread, 0, 255));
            }
            break;
        }
        case 4:  // the previous block again: long steady notes
            break;
        default: {  // the input's own bytes, repeated
            const std::string_view bytes = in.Text(64);
            for (std::size_t i = 0; i < block.size(); ++i) {
                block[i] = bytes.empty() ? 128 : static_cast<std::uint8_t>(bytes[i % bytes.size()]);
            }
            break;
        }
    }
}

// The number of a result text "123.45 Hz" or "123,45 Hz", or NaN when the
// text is not one.
double ResultNumber(const std::string& label, char separator) {
    const std::size_t sep = label.find(separator);
    if (sep == std::string::npos || sep == 0 || label.size() != sep + 6 ||
        label.compare(sep + 3, 3, " Hz") != 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    std::string digits = label.substr(0, sep + 3);
    digits[sep] = '.';
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != sep && (digits[i] < '0' || digits[i] > '9')) {
            return std::numeric_limits<double>::quiet_NaN();
        }
    }
    double value = 0.0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return value;
}

bool IsWholeState(double s) { return s == -1.0 || (s >= 0.0 && std::floor(s) == s); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    harmolune::MeasuringCycle cycle;
    Block block{};
    block.fill(128);
    FUZZ_CHECK(cycle.SamplingState() == -1.0);
    FUZZ_CHECK(cycle.MeasuredText().empty());

    FuzzInput in(data, size);
    // The lowest and highest estimate that may have been accepted since the
    // last arming; empty while min > max.
    double lowest = std::numeric_limits<double>::infinity();
    double highest = -lowest;

    for (int op = 0; op < kMaxOperations && !in.Empty(); ++op) {
        const double stateBefore = cycle.SamplingState();
        const double sumBefore = cycle.FrequencySum();
        const std::string labelBefore = cycle.MeasuredText();

        const auto choice = in.Byte();
        switch (choice % 8) {
            case 0: {  // the sampling button, for a piano key or not
                const std::string_view reference = Reference(in);
                const bool armed = cycle.Arm(reference, std::nullopt, ".", (choice & 8) != 0);
                FUZZ_CHECK(armed == !reference.empty());
                if (armed) {
                    FUZZ_CHECK(cycle.SamplingState() == 0.0);
                    FUZZ_CHECK(cycle.FrequencySum() == 0.0);
                    FUZZ_CHECK(cycle.MeasuredText() == "...Hz");
                    lowest = std::numeric_limits<double>::infinity();
                    highest = -lowest;
                } else {
                    FUZZ_CHECK(cycle.SamplingState() == stateBefore);
                    FUZZ_CHECK(cycle.FrequencySum() == sumBefore);
                    FUZZ_CHECK(cycle.MeasuredText() == labelBefore);
                }
                break;
            }
            case 1: {  // a note chosen
                cycle.NoteChosen();
                FUZZ_CHECK(cycle.SamplingState() == -1.0);
                if (stateBefore >= 0.0) {
                    FUZZ_CHECK(cycle.FrequencySum() == 0.0);
                    FUZZ_CHECK(cycle.MeasuredText().empty());
                } else {
                    FUZZ_CHECK(cycle.FrequencySum() == sumBefore);
                    FUZZ_CHECK(cycle.MeasuredText() == labelBefore);
                }
                break;
            }
            default: {  // one block
                FillBlock(in, block);
                const std::string_view reference = Reference(in);
                const char separator = in.Byte() % 2 == 0 ? '.' : ',';
                const auto report = cycle.Tick(block, reference, std::string_view(&separator, 1));
                if (reference.empty()) {
                    FUZZ_CHECK(!report);
                    FUZZ_CHECK(cycle.SamplingState() == stateBefore);
                    FUZZ_CHECK(cycle.FrequencySum() == sumBefore);
                    FUZZ_CHECK(cycle.MeasuredText() == labelBefore);
                    break;
                }
                FUZZ_CHECK(report);
                FUZZ_CHECK(report->level >= 0 && report->level <= 128);
                if (report->band) {
                    const harmolune::Band band = *report->band;
                    FUZZ_CHECK(band.first >= 0 && band.last <= harmolune::kSpectrumSize - 1);
                    FUZZ_CHECK(report->peakBin >= 1 &&
                               report->peakBin <= harmolune::kFrameLength - 1);
                    if (band.first <= band.last) {
                        FUZZ_CHECK(report->peakBin >= std::max(band.first, 1));
                        FUZZ_CHECK(report->peakBin <= std::max(band.last, 1));
                    }
                } else {
                    FUZZ_CHECK(!report->estimateHz);
                }
                if (report->estimateHz) {
                    // Between the frequencies of the peak's two neighbours.
                    const double e = *report->estimateHz;
                    FUZZ_CHECK(e >= (report->peakBin - 1) * kBinHz);
                    FUZZ_CHECK(e <= (report->peakBin + 1) * kBinHz);
                    if (stateBefore >= 0.0 && report->level >= harmolune::kSoundThreshold &&
                        report->level <= harmolune::kLoudnessCeiling) {
                        lowest = std::min(lowest, e);
                        highest = std::max(highest, e);
                    }
                }
                const double state = cycle.SamplingState();
                if (const auto fine = cycle.Fine()) {
                    // Whatever the blocks, a fine reading is a frequency.
                    FUZZ_CHECK(std::isfinite(fine->frequencyHz) && fine->frequencyHz > 0.0);
                    FUZZ_CHECK(std::isfinite(fine->cents));
                    FUZZ_CHECK(fine->uncertaintyCents >= 0.0 && fine->seconds > 0.0);
                }
                if (cycle.MeasuredText() != labelBefore ||
                    (stateBefore > 2.0 && report->level < harmolune::kSoundThreshold)) {
                    // A result: the state is idle again, the text a mean.
                    FUZZ_CHECK(stateBefore > 2.0);
                    FUZZ_CHECK(state == -1.0);
                    const double mean = ResultNumber(cycle.MeasuredText(), separator);
                    FUZZ_CHECK(!std::isnan(mean));
                    FUZZ_CHECK(lowest <= highest);
                    // Two decimals: the text may round half a hundredth away.
                    FUZZ_CHECK(mean >= lowest - 0.005 && mean <= highest + 0.005);
                } else if (stateBefore == -1.0) {
                    FUZZ_CHECK(state == -1.0);
                    FUZZ_CHECK(cycle.FrequencySum() == sumBefore);
                } else {
                    // Counting goes up by at most two (arming block accepted).
                    FUZZ_CHECK(state >= stateBefore && state <= std::max(stateBefore + 1.0, 2.0));
                    FUZZ_CHECK(cycle.FrequencySum() >= sumBefore);
                }
                break;
            }
        }
        FUZZ_CHECK(IsWholeState(cycle.SamplingState()));
        FUZZ_CHECK(std::isfinite(cycle.FrequencySum()));
        FUZZ_CHECK(cycle.FrequencySum() >= 0.0);
        const std::string& label = cycle.MeasuredText();
        FUZZ_CHECK(label.empty() || label == "...Hz" || !std::isnan(ResultNumber(label, '.')) ||
                   !std::isnan(ResultNumber(label, ',')));
    }
    return 0;
}
