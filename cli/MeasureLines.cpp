// The lines of harmolune-measure's table that carry readings: the fine
// measurement's, the partials' and the tuning display's. Written with "." and
// never through the C library's locale.

#include <array>
#include <charconv>
#include <cmath>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/MeasureTool.h"
#include "core/Numbers.h"

namespace harmolune {

void WriteFineLine(std::ostream& out, const std::optional<FineReading>& fine) {
    if (!fine) {
        out << "fine\t-\n";
        return;
    }
    const std::string cents = FormatFixed(std::abs(fine->cents), 2, ".");
    const bool zero = cents.find_first_not_of("0.") == std::string::npos;
    out << "fine\t" << FormatFixed(fine->frequencyHz, 4, ".") << '\t'
        << (fine->cents < 0.0 && !zero ? "-" : "+") << cents << '\t'
        << FormatFixed(fine->uncertaintyCents, 2, ".") << '\t' << FormatFixed(fine->seconds, 2, ".")
        << '\n';
}

void WritePartialsLine(std::ostream& out, const std::optional<FineReading>& fine) {
    if (!fine || fine->partialCount < 3 || !fine->inharmonicity) {
        out << "partials\t-\n";
        return;
    }
    // to_chars, like FormatFixed, never depends on the C library's locale.
    std::array<char, 32> b{};
    const auto written = std::to_chars(b.data(), b.data() + b.size(), *fine->inharmonicity,
                                       std::chars_format::scientific, 2);
    out << "partials\t" << std::string_view(b.data(), written.ptr - b.data()) << '\t';
    for (int i = 0; i < fine->partialCount; ++i) {
        out << (i > 0 ? " " : "") << fine->partials[i].number << ':'
            << FormatFixed(fine->partials[i].frequencyHz, 3, ".");
    }
    out << '\n';
}

namespace {

// Signed, 2 decimals, and no "-0.00".
std::string SignedCents(double cents) {
    const std::string text = FormatFixed(std::abs(cents), 2, ".");
    const bool zero = text.find_first_not_of("0.") == std::string::npos;
    return (cents < 0.0 && !zero ? "-" : "+") + text;
}

constexpr std::string_view StateWord(LiveState state) {
    switch (state) {
        case LiveState::Refining:
            return "en-cours";
        case LiveState::Stable:
            return "stable";
        case LiveState::Final:
            return "final";
    }
    return "";
}

}  // namespace

void WriteLiveLine(std::ostream& out, long long block, const LiveReading& reading) {
    out << "live\t" << block << '\t' << FormatFixed(reading.fine.frequencyHz, 4, ".") << '\t'
        << SignedCents(reading.fine.cents) << '\t'
        << FormatFixed(reading.fine.uncertaintyCents, 2, ".") << '\t' << StateWord(reading.state)
        << '\n';
}

}  // namespace harmolune
