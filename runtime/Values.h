#pragma once

#include "Int16.h"

#include <QString>

namespace runtime {

// The number at the start of the text, sign and "." included. Blanks, tabs
// and line feeds are skipped wherever they stand; any other character ends
// the number. No number at all gives 0. Never fails.
double LeadingValue(const QString &text);

// The whole text as a number in the user's locale, surrounding blanks
// allowed. Anything else is error 13.
double StrictValue(const QString &text);

// Decimal text by a digit pattern: each "0" is a digit always shown, each
// "#" one shown only when significant. Digits are never cut or grouped.
QString FormatValue(Int16 value, const QString &pattern);
QString FormatValue(float value, const QString &pattern);
QString FormatValue(const QString &numericText, const QString &pattern);

// Decimal text of a 16-bit value: "-" before a negative one, no blank.
QString IntegerText(Int16 value);

} // namespace runtime
