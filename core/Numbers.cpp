#include "core/Numbers.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace harmolune {

namespace {

bool IsSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Walks the text skipping blanks, tabs and line feeds.
class Cursor {
  public:
    explicit Cursor(std::string_view text) : text_(text) { Skip(); }
    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    bool StartsWith(std::string_view s) const { return text_.substr(pos_).starts_with(s); }
    void Advance(std::size_t n = 1) {
        pos_ += n;
        Skip();
    }
    std::size_t Position() const { return pos_; }
    void Restore(std::size_t pos) { pos_ = pos; }

  private:
    void Skip() {
        while (pos_ < text_.size() && IsSkipped(text_[pos_])) {
            ++pos_;
        }
    }
    std::string_view text_;
    std::size_t pos_ = 0;
};

// Leading zeros and digits past the 800th carry no weight a double can hold,
// so the buffer stays bounded whatever the text's length.
constexpr std::size_t kMaxDigits = 800;

// Up to kMaxDigits decimal digits, without allocation.
class Digits {
  public:
    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    void push_back(char c) { digits_[size_++] = c; }
    const char* begin() const { return digits_.data(); }
    const char* end() const { return digits_.data() + size_; }

  private:
    std::array<char, kMaxDigits> digits_{};
    std::size_t size_ = 0;
};

}  // namespace

double ReadLeadingNumber(std::string_view text, std::string_view decimalSeparator) {
    // The number is rebuilt without its blanks in the form from_chars reads,
    // in a fixed buffer: this runs once per captured block and must not
    // allocate.
    Digits mantissa;
    bool negative = false;
    long long exponentAdjust = 0;  // decimal places dropped or taken
    bool sawDigit = false;

    Cursor c(text);
    if (c.Peek() == '+' || c.Peek() == '-') {
        negative = c.Peek() == '-';
        c.Advance();
    }
    for (; IsDigit(c.Peek()); c.Advance()) {
        sawDigit = true;
        if (mantissa.empty() && c.Peek() == '0') {
            continue;
        }
        if (mantissa.size() < kMaxDigits) {
            mantissa.push_back(c.Peek());
        } else {
            ++exponentAdjust;
        }
    }
    if (!decimalSeparator.empty() && c.StartsWith(decimalSeparator)) {
        c.Advance(decimalSeparator.size());
        for (; IsDigit(c.Peek()); c.Advance()) {
            sawDigit = true;
            if (mantissa.empty() && c.Peek() == '0') {
                --exponentAdjust;
                continue;
            }
            if (mantissa.size() < kMaxDigits) {
                mantissa.push_back(c.Peek());
                --exponentAdjust;
            }
        }
    }
    if (!sawDigit) {
        return 0.0;
    }
    if (mantissa.empty()) {
        return negative ? -0.0 : 0.0;
    }

    long long exponent = 0;
    if (c.Peek() == 'e' || c.Peek() == 'E') {
        const std::size_t mark = c.Position();
        c.Advance();
        bool expNegative = false;
        if (c.Peek() == '+' || c.Peek() == '-') {
            expNegative = c.Peek() == '-';
            c.Advance();
        }
        if (!IsDigit(c.Peek())) {
            c.Restore(mark);  // "4e" or "4e+" is the number 4
        } else {
            for (; IsDigit(c.Peek()); c.Advance()) {
                if (exponent < 1'000'000'000LL) {
                    exponent = exponent * 10 + (c.Peek() - '0');
                }
            }
            if (expNegative) {
                exponent = -exponent;
            }
        }
    }

    // A clamped exponent this far out still over- or underflows, as it should.
    long long total = exponent + exponentAdjust;
    total = std::max(-100000LL, std::min(100000LL, total));
    std::array<char, kMaxDigits + 32> literal{};
    std::copy(mantissa.begin(), mantissa.end(), literal.begin());
    char* end = literal.data() + mantissa.size();
    *end++ = 'e';
    end = std::to_chars(end, literal.data() + literal.size(), total).ptr;

    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(literal.data(), end, value);
    if (ec == std::errc::result_out_of_range) {
        // from_chars leaves the value alone: tell overflow from underflow by
        // the decimal magnitude.
        const long long magnitude = total + static_cast<long long>(mantissa.size());
        value = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return negative ? -value : value;
}

double RoundToEven(double x) {
    if (!std::isfinite(x)) {
        return x;
    }
    const double floor = std::floor(x);
    const double fraction = x - floor;  // exact for every finite double
    if (fraction < 0.5) {
        return floor;
    }
    if (fraction > 0.5) {
        return floor + 1.0;
    }
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

std::string FormatFixed(double x, int decimals, std::string_view decimalSeparator) {
    std::array<char, 400> buffer{};
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x,
                                         std::chars_format::fixed, decimals);
    if (ec != std::errc()) {
        return "?";
    }
    std::string text(buffer.data(), end);
    if (const auto dot = text.find('.'); dot != std::string::npos) {
        text.replace(dot, 1, decimalSeparator);
    }
    return text;
}

}  // namespace harmolune
