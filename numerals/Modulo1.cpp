#include "Modulo1.h"

#include "Int16.h"

#include <array>

namespace Modulo1 {

namespace {

using runtime::Int16;

constexpr int rows = 13;
constexpr std::array<qint16, rows> values = {1000, 900, 500, 400, 100, 90, 50, 40, 10, 9, 5, 4, 1};
constexpr std::array<const char *, rows> symbols = {"M", "CM", "D", "CD", "C", "XC", "L", "XL", "X", "IX", "V", "IV", "I"};

Int16 valueAt(int row)
{
    if (row < 0 || row >= rows)
        runtime::raise(runtime::SubscriptOutOfRange);
    return values[row];
}

} // namespace

QString ToRoman(qint16 &number)
{
    QString roman;
    Int16 left = number;
    int row = 0;
    while (left != 0) {
        while (left >= valueAt(row)) {
            left -= valueAt(row);
            roman += QLatin1StringView(symbols[row]);
        }
        ++row;
    }
    number = left;
    return roman;
}

} // namespace Modulo1
