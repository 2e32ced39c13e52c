#include "Values.h"

#include <QLocale>

#include <cmath>
#include <cstdlib>
#include <string>

namespace runtime {

namespace {

bool isSkipped(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Digits past this many only move the decimal point: the value keeps
// double precision and the work stays bounded for any length of text.
constexpr int significantDigits = 40;

// A whole number by a digit pattern, "-" before a negative one.
QString formatWhole(double value, const QString &pattern)
{
    QString digits = QString::number(std::abs(value), 'f', 0);
    if (digits == u"0" && !pattern.contains(u'0'))
        digits.clear();
    const qsizetype minimum = pattern.count(u'0');
    if (digits.size() < minimum)
        digits.prepend(QString(minimum - digits.size(), u'0'));
    return value < 0 ? u'-' + digits : digits;
}

} // namespace

double LeadingValue(const QString &text)
{
    std::string mantissa;
    long long exponent = 0;
    bool negative = false;
    bool seenSign = false;
    bool seenDigit = false;
    bool seenPoint = false;

    for (const QChar c : text) {
        if (isSkipped(c))
            continue;
        if (!seenSign && !seenDigit && !seenPoint && (c == u'-' || c == u'+')) {
            seenSign = true;
            negative = c == u'-';
        } else if (!seenPoint && c == u'.') {
            seenPoint = true;
        } else if (isDigit(c)) {
            seenDigit = true;
            if (mantissa.empty() && c == u'0') {
                if (seenPoint)
                    --exponent; // leading zeros after the point only scale
                continue;
            }
            if (int(mantissa.size()) < significantDigits) {
                mantissa.push_back(char(c.unicode()));
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

double StrictValue(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    const QStringView number = QStringView(text).sliced(begin, end - begin);
    // Qt would also skip tabs and line ends; only blanks may surround it.
    if (number.isEmpty() || number.front().isSpace() || number.back().isSpace())
        raise(TypeMismatch);
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = locale.toDouble(number, &ok);
    if (!ok)
        raise(TypeMismatch);
    return value;
}

QString FormatValue(Int16 value, const QString &pattern)
{
    return formatWhole(value.value(), pattern);
}

QString FormatValue(float value, const QString &pattern)
{
    return formatWhole(std::round(double(value)), pattern);
}

QString FormatValue(const QString &numericText, const QString &pattern)
{
    QLocale locale;
    bool ok = false;
    const double value = locale.toDouble(numericText.trimmed(), &ok);
    if (!ok)
        return numericText; // not a number: shown as it is
    return formatWhole(std::round(value), pattern);
}

QString IntegerText(Int16 value)
{
    return QString::number(value.value());
}

} // namespace runtime
