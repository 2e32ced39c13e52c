#pragma once

#include <QString>
#include <QtGlobal>

namespace Modulo1 {

// Roman numeral of number, with the subtractive pairs (IV, IX, XL, ...).
// Counts number down to 0 while it builds the numeral. A negative number
// runs off the end of the table: error 9.
QString ToRoman(qint16 &number);

} // namespace Modulo1
