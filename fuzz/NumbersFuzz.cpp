// Fuzzes the number reader, the rounding and the "0.00" pattern: any text
// read with "." or "," gives a number, never NaN; rounding it gives the
// nearest integer with exact halves going to the even one (checked against
// the C library's nearbyint in its default round-to-nearest-even mode); and
// a number written with two decimals reads back as itself.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/Numbers.h"
#include "fuzz/FuzzCheck.h"

namespace {

// Equal down to the sign of zero.
bool SameBits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

void CheckRounding(double x) {
    const double r = harmolune::RoundToEven(x);
    if (std::isnan(x)) {
        FUZZ_CHECK(std::isnan(r));
        return;
    }
    if (std::isinf(x)) {
        FUZZ_CHECK(r == x);
        return;
    }
    FUZZ_CHECK(std::floor(r) == r);
    FUZZ_CHECK(std::fabs(r - x) <= 0.5);
    FUZZ_CHECK(r == std::nearbyint(x));
}

// The "0.00" pattern read back gives the number it was made from, to half a
// hundredth, with either separator.
void CheckFormatting(double x) {
    if (!std::isfinite(x) || std::fabs(x) > 1e12) {
        return;
    }
    for (const std::string_view separator : {".", ","}) {
        const std::string text = harmolune::FormatFixed(x, 2, separator);
        const std::size_t at = text.find(separator);
        FUZZ_CHECK(at != std::string::npos && at >= 1 && text.size() == at + separator.size() + 2);
        const double back = harmolune::ReadLeadingNumber(text, separator);
        FUZZ_CHECK(std::fabs(back - x) <= 0.005 + 1e-15 * std::fabs(x));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const double withPoint = harmolune::ReadLeadingNumber(text, ".");
    const double withComma = harmolune::ReadLeadingNumber(text, ",");
    FUZZ_CHECK(!std::isnan(withPoint));
    FUZZ_CHECK(!std::isnan(withComma));
    // The separator only matters where it appears.
    if (text.find('.') == std::string_view::npos && text.find(',') == std::string_view::npos) {
        FUZZ_CHECK(SameBits(withPoint, withComma));
    }
    // Blanks, tabs and line feeds are skipped wherever they stand, so a text
    // and the same text without a leading blank read alike.
    if (!text.empty() && (text[0] == ' ' || text[0] == '\t' || text[0] == '\n')) {
        const double rest = harmolune::ReadLeadingNumber(text.substr(1), ".");
        FUZZ_CHECK(SameBits(withPoint, rest));
    }
    CheckRounding(withPoint);
    CheckRounding(withComma);
    CheckFormatting(withPoint);

    // The bytes themselves as a double reach the values no text gives
    // (NaN payloads, subnormals, halves of huge numbers).
    if (size >= sizeof(double)) {
        double raw = 0.0;
        std::memcpy(&raw, data, sizeof raw);
        CheckRounding(raw);
        CheckRounding(raw + 0.5);
        CheckFormatting(raw);
    }
    return 0;
}
