// LeadingValue on any text: the same bytes read as UTF-8 and as the code
// page, since the game meets both (typed text and record files).
#include "Characters.h"
#include "Values.h"

#include <QByteArray>
#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

namespace {

[[noreturn]] void fault(const char *what, const QString &text, double got, double other)
{
    std::fprintf(stderr, "LeadingValue: %s\n  text (UTF-16): ", what);
    for (const QChar c : text)
        std::fprintf(stderr, "%04x ", unsigned(c.unicode()));
    std::fprintf(stderr, "\n  value %.17g, expected %.17g\n", got, other);
    std::abort();
}

bool isSkipped(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

bool isAsciiDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// Characters that can take part in a number; any other ends it.
bool takesPart(char16_t c)
{
    return isAsciiDigit(c) || isSkipped(c) || c == u'+' || c == u'-' || c == u'.';
}

// The number at the start as plain text ("-12.5"), blanks dropped; checked
// against strtod, which rounds correctly. Empty when the text is too long
// for the comparison to be exact (digits beyond the fortieth are dropped by
// design, which may round differently).
std::string numberPrefix(const QString &text, bool &comparable)
{
    std::string number;
    bool seenSign = false, seenDigit = false, seenPoint = false;
    int significant = 0;
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (isSkipped(c))
            continue;
        if (!seenSign && !seenDigit && !seenPoint && (c == u'+' || c == u'-')) {
            seenSign = true;
        } else if (!seenPoint && c == u'.') {
            seenPoint = true;
        } else if (isAsciiDigit(c)) {
            seenDigit = true;
            if (significant > 0 || c != u'0')
                ++significant;
        } else {
            break;
        }
        number.push_back(char(c));
    }
    comparable = significant <= 40 && number.size() <= 1000;
    return number;
}

void check(const QString &text, const QByteArray &raw)
{
    const double value = runtime::LeadingValue(text);
    if (std::isnan(value))
        fault("NaN", text, value, 0);

    bool unsignedDigits = true;
    for (const QChar c : text) {
        if (!isAsciiDigit(c.unicode()) && !isSkipped(c.unicode()))
            unsignedDigits = false;
    }
    if (unsignedDigits && value < 0)
        fault("negative value from digits alone", text, value, 0);

    bool comparable = false;
    const std::string prefix = numberPrefix(text, comparable);
    if (comparable) {
        const double expected = std::strtod(prefix.c_str(), nullptr);
        if (value != expected)
            fault("value differs from the number at the start", text, value, expected);
    }

    // Look-alikes of digits, signs and blanks from other scripts must end
    // the number like any other character; the fuzzer picks one more.
    const char16_t fixed[] = {u'x', u'e', u'E', u'd', u'D', u',', u'\r', u'\v', u'\f', 0, 0x00A0,
                              0x2007, 0x3000, 0x0660, 0x0966, 0xFF11, 0xFF0B, 0x2212, 0xFE63,
                              0xD800, 0xDC00, 0x00B2, 0x00BD, 0x2024};
    QString endings;
    for (const char16_t c : fixed)
        endings.append(QChar(c));
    if (raw.size() >= 2)
        endings.append(QChar(char16_t(quint8(raw[0]) | quint8(raw[1]) << 8)));
    for (const QChar c : endings) {
        if (takesPart(c.unicode()))
            continue;
        const double appended = runtime::LeadingValue(text + c);
        if (appended != value)
            fault("a character that ends the number changed it", text + c, appended, value);
    }

    for (const char *blanks : {" ", "   ", "\t", "\n", " \t\n "}) {
        const QString prefixed = QString::fromLatin1(blanks) + text;
        const double shifted = runtime::LeadingValue(prefixed);
        if (shifted != value)
            fault("leading blanks changed the value", prefixed, shifted, value);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    check(QString::fromUtf8(bytes), bytes);
    check(runtime::fromCodePage(bytes), bytes);
    return 0;
}
