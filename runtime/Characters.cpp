#include "Characters.h"

#include <array>

namespace runtime {

namespace {

// Windows-1252 between 0x80 and 0x9F; the five unassigned bytes keep their
// C1 control, as the system's own conversion does.
constexpr std::array<char16_t, 32> high = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t decode(unsigned char byte)
{
    if (byte >= 0x80 && byte <= 0x9F)
        return high[byte - 0x80];
    return byte;
}

// -1 when the code page has no such character.
int encode(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    for (int i = 0; i < int(high.size()); ++i) {
        if (high[i] == c)
            return 0x80 + i;
    }
    return -1;
}

} // namespace

QByteArray toCodePage(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i; // one character outside the code page, one "?"
        const int code = encode(c.unicode());
        bytes.append(code < 0 ? '?' : char(code));
    }
    return bytes;
}

QString fromCodePage(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes)
        text.append(QChar(decode(static_cast<unsigned char>(byte))));
    return text;
}

QString Chr(Int16 code)
{
    if (code < 0 || code > 255)
        raise(InvalidCall);
    return QString(QChar(decode(static_cast<unsigned char>(code.value()))));
}

Int16 Asc(const QString &text)
{
    if (text.isEmpty())
        return 0;
    return static_cast<unsigned char>(toCodePage(text.left(text.at(0).isHighSurrogate() ? 2 : 1)).at(0));
}

QString UCase(const QString &text)
{
    QString upper = text;
    for (QChar &c : upper) {
        const QChar u = c.toUpper();
        // Keep a letter whose capital the code page lacks (such as µ), as
        // the system does, rather than turn it into "?".
        if (encode(u.unicode()) >= 0 || encode(c.unicode()) < 0)
            c = u;
    }
    return upper;
}

} // namespace runtime
