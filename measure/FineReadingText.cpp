// The fine reading as the window shows it in Label1's tooltip and says it to
// a screen reader.

#include <cmath>
#include <string>
#include <string_view>

#include "core/Numbers.h"
#include "measure/FineEstimator.h"

namespace harmolune {

std::string InharmonicityText(double b, std::string_view decimalSeparator) {
    int exponent = static_cast<int>(std::floor(std::log10(b)));
    double mantissa = b / std::pow(10.0, exponent);
    if (mantissa >= 9.95) {
        mantissa /= 10.0;
        ++exponent;
    }
    static constexpr std::array<std::string_view, 10> kSuperscripts{"⁰", "¹", "²", "³", "⁴",
                                                                    "⁵", "⁶", "⁷", "⁸", "⁹"};
    std::string power = exponent < 0 ? "⁻" : "";
    const std::string digits = std::to_string(std::abs(exponent));
    for (const char d : digits) {
        power += kSuperscripts[static_cast<std::size_t>(d - '0')];
    }
    return FormatFixed(mantissa, 1, decimalSeparator) + " × 10" + power;
}

std::string FineReadingText(const FineReading& reading, std::string_view noteName,
                            std::string_view decimalSeparator) {
    // Cents to one decimal, as a tuner shows them, or to two when the
    // uncertainty is below a tenth. French counts below 2 in the singular.
    const int decimals = reading.uncertaintyCents < 0.095 ? 2 : 1;
    const auto cents = [&](double x) {
        std::string text = FormatFixed(std::abs(x), decimals, decimalSeparator);
        return text + (std::abs(x) < 2.0 ? " cent" : " cents");
    };
    const std::string deviation = cents(reading.cents);
    const bool zero = deviation.find_first_of("123456789") == std::string::npos;
    std::string text = "Mesure fine";
    if (reading.fromPartials) {
        text += " d'après les partiels";
    }
    text += reading.final ? " : " : " (provisoire) : ";
    text += FormatFixed(reading.frequencyHz, 3, decimalSeparator) + " Hz, ";
    text += (reading.cents < 0.0 && !zero) ? "-" : "+";
    text += deviation + " par rapport à ";
    text += noteName;
    text += " (± " + cents(reading.uncertaintyCents) + ", ";
    text += FormatFixed(reading.seconds, 1, decimalSeparator) + " s de son)";
    if (reading.inharmonicity && *reading.inharmonicity > 0.0) {
        text += ", inharmonicité " + InharmonicityText(*reading.inharmonicity, decimalSeparator);
    }
    return text;
}

}  // namespace harmolune
