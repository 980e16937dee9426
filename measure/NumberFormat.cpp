#include "measure/NumberFormat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace {

constexpr int MaxDigits = 17;
// Every significant digit of any double: at most 767 of them.
constexpr int ExactPrecision = 766;

// A magnitude as `count` significant decimal digits d0 d1 ... and the decimal
// exponent of d0.
struct Decimal {
    std::array<char, MaxDigits> digits;
    int count;
    int exponent;
};

int ParseExponent(std::string_view text) {
    int magnitude = 0;
    std::from_chars(text.data() + 1, text.data() + text.size(), magnitude);
    return text.front() == '-' ? -magnitude : magnitude;
}

// Rounds on the exact decimal expansion so that a value lying exactly half
// way (7.25 to two digits) goes away from zero, as the C runtime's _gcvt
// does, where a correctly rounded conversion would go to the even digit.
Decimal RoundHalfAwayToDigits(double magnitude, int count) {
    std::array<char, ExactPrecision + 16> exact;
    const auto converted = std::to_chars(exact.data(), exact.data() + exact.size(), magnitude,
                                         std::chars_format::scientific, ExactPrecision);
    const std::string_view text(exact.data(), converted.ptr); // "d.ddd...e+xx"
    auto significant = [&](int k) { return text[k == 0 ? 0 : k + 1]; };

    Decimal decimal{{}, count, ParseExponent(text.substr(text.find('e') + 1))};
    for (int k = 0; k < count; ++k)
        decimal.digits[k] = significant(k);
    if (significant(count) < '5')
        return decimal;
    int k = count - 1;
    for (; k >= 0 && decimal.digits[k] == '9'; --k)
        decimal.digits[k] = '0';
    if (k >= 0) {
        ++decimal.digits[k];
    } else {
        decimal.digits[0] = '1';
        ++decimal.exponent;
    }
    return decimal;
}

std::string_view WithoutTrailingZeros(std::string_view digits) {
    const auto last = digits.find_last_not_of('0');
    return digits.substr(0, last == std::string_view::npos ? 0 : last + 1);
}

void AppendFixed(std::string& text, const Decimal& decimal) {
    const std::string_view digits(decimal.digits.data(), decimal.count);
    const int decimals = decimal.count - 1 - decimal.exponent;
    if (decimal.exponent < 0)
        text += '0';
    else
        text += digits.substr(0, decimal.exponent + 1);
    if (decimals == 0)
        return;
    text += '.';
    text += WithoutTrailingZeros(digits.substr(digits.size() - decimals));
}

void AppendExponential(std::string& text, const Decimal& decimal) {
    const std::string_view digits(decimal.digits.data(), decimal.count);
    text += digits.front();
    if (decimal.count > 1) {
        text += '.';
        text += WithoutTrailingZeros(digits.substr(1));
    }
    const int exponent = std::abs(decimal.exponent); // at most 324
    text += decimal.exponent < 0 ? "e-" : "e+";
    text += static_cast<char>('0' + exponent / 100);
    text += static_cast<char>('0' + exponent / 10 % 10);
    text += static_cast<char>('0' + exponent % 10);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t SkipDigits(std::string_view text, std::size_t at) {
    while (at < text.size() && IsDigit(text[at]))
        ++at;
    return at;
}

// Sign, digits with an optional point (at least one digit), optional exponent.
bool IsDecimalNumber(std::string_view text) {
    std::size_t at = 0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        ++at;
    const std::size_t wholeStart = at;
    at = SkipDigits(text, at);
    std::size_t digitCount = at - wholeStart;
    if (at < text.size() && text[at] == '.') {
        const std::size_t fractionStart = ++at;
        at = SkipDigits(text, at);
        digitCount += at - fractionStart;
    }
    if (digitCount == 0)
        return false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            ++at;
        const std::size_t exponentStart = at;
        at = SkipDigits(text, at);
        if (at == exponentStart)
            return false;
    }
    return at == text.size();
}

} // namespace

std::string Gcvt(double value, int digits) {
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";

    const Decimal decimal =
        RoundHalfAwayToDigits(std::fabs(value), std::clamp(digits, 1, MaxDigits));
    std::string text;
    if (value < 0) // not for negative zero
        text += '-';
    if (decimal.exponent >= -1 && decimal.exponent < decimal.count)
        AppendFixed(text, decimal);
    else
        AppendExponential(text, decimal);
    return text;
}

std::string FormatDouble15(double value) {
    std::array<char, 32> text;
    const auto converted = std::to_chars(text.data(), text.data() + text.size(), value,
                                         std::chars_format::general, 15);
    return {text.data(), converted.ptr};
}

bool ParseDouble(const std::string& text, double& value) {
    std::string_view number(text);
    while (!number.empty() && IsBlank(number.front()))
        number.remove_prefix(1);
    while (!number.empty() && IsBlank(number.back()))
        number.remove_suffix(1);
    if (!IsDecimalNumber(number))
        return false;
    if (number.front() == '+')
        number.remove_prefix(1);

    double parsed = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), parsed);
    // Beyond the range of a double gives an error, not an infinity.
    if (error != std::errc() || end != number.data() + number.size())
        return false;
    value = parsed;
    return true;
}

namespace {
std::string FigureText(double value, std::chars_format format, int precision) {
    if (!std::isfinite(value))
        return "-";
    std::array<char, 64> text;
    const auto end = std::to_chars(text.begin(), text.end(), value, format, precision).ptr;
    return {text.begin(), end};
}
} // namespace

std::string FixedText(double value, int decimals) {
    return FigureText(value, std::chars_format::fixed, decimals);
}

std::string SignificantText(double value, int digits) {
    return FigureText(value, std::chars_format::general, digits);
}
