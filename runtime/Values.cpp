#include "Values.h"

#include "LeadingNumber.h"

#include <QLocale>

#include <cmath>
#include <string_view>

namespace runtime {

namespace {

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
    // One reader for typed text and for the record files, shared with the
    // record helper.
    return core::leadingValue(std::u16string_view(QStringView(text).utf16(), std::size_t(text.size())));
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
