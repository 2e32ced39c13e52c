#include "Int16.h"

#include <cmath>
#include <limits>

namespace runtime {

Int16 Int16::fromInt(qint64 value)
{
    return Int16(checked(value));
}

Int16 Int16::fromDouble(double value)
{
    const double rounded = std::nearbyint(value); // default rounding: half to even
    if (!(rounded >= std::numeric_limits<qint16>::min() && rounded <= std::numeric_limits<qint16>::max()))
        raise(Overflow);
    return Int16(int(rounded));
}

Int16 &Int16::operator+=(Int16 other)
{
    *this = fromInt(qint64(m_value) + other.m_value);
    return *this;
}

Int16 &Int16::operator-=(Int16 other)
{
    *this = fromInt(qint64(m_value) - other.m_value);
    return *this;
}

} // namespace runtime
