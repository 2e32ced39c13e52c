#include "LeadingNumber.h"

#include <cstdlib>
#include <string>

namespace core {

namespace {

// Digits past this many only move the decimal point: the value keeps
// double precision and the work stays bounded for any length of text.
constexpr int significantDigits = 40;

template<typename Char>
double leading(std::basic_string_view<Char> text)
{
    std::string mantissa;
    long long exponent = 0;
    bool negative = false;
    bool seenSign = false;
    bool seenDigit = false;
    bool seenPoint = false;

    for (const Char c : text) {
        if (c == Char(' ') || c == Char('\t') || c == Char('\n'))
            continue;
        if (!seenSign && !seenDigit && !seenPoint && (c == Char('-') || c == Char('+'))) {
            seenSign = true;
            negative = c == Char('-');
        } else if (!seenPoint && c == Char('.')) {
            seenPoint = true;
        } else if (c >= Char('0') && c <= Char('9')) {
            seenDigit = true;
            if (mantissa.empty() && c == Char('0')) {
                if (seenPoint)
                    --exponent; // leading zeros after the point only scale
                continue;
            }
            if (int(mantissa.size()) < significantDigits) {
                mantissa.push_back(char(c));
                if (seenPoint)
                    --exponent;
            } else if (!seenPoint) {
                ++exponent;
            }
        } else {
            break;
        }
        if (exponent > 100000 || exponent < -100000)
            break; // far beyond what a double holds either way
    }

    if (mantissa.empty())
        return 0.0;
    const std::string number = mantissa + 'e' + std::to_string(exponent);
    const double value = std::strtod(number.c_str(), nullptr);
    return negative ? -value : value;
}

} // namespace

double leadingValue(std::string_view bytes)
{
    return leading(bytes);
}

double leadingValue(std::u16string_view text)
{
    return leading(text);
}

std::optional<std::uint64_t> plainNumber(std::string_view text, std::size_t maxDigits, std::uint64_t limit)
{
    if (text.empty() || text.size() > maxDigits || (text.size() > 1 && text.front() == '0'))
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + std::uint64_t(c - '0');
    }
    if (value > limit)
        return std::nullopt;
    return value;
}

} // namespace core
