#pragma once

#include "Int16.h"

#include <QByteArray>
#include <QString>

namespace runtime {

// Windows-1252 stands for the system's single-byte code page. Characters it
// cannot hold are written as "?".
QByteArray toCodePage(const QString &text);
QString fromCodePage(const QByteArray &bytes);

// One-character text of a code-page code.
QString Chr(Int16 code);
// Code-page code of the text's first character; 0 for an empty text.
Int16 Asc(const QString &text);
QString UCase(const QString &text);

} // namespace runtime
