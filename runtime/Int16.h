#pragma once

#include "RuntimeError.h"

#include <QtGlobal>

namespace runtime {

// A 16-bit signed value whose arithmetic fails with error 6 instead of
// wrapping, as the game's counters and clock fields require.
class Int16
{
public:
    constexpr Int16() = default;
    // Implicit, so that literals and counts read naturally; out of range
    // is an overflow, never a silent wrap.
    constexpr Int16(int value) : m_value(checked(value)) {}

    // Whole-number conversions: out of range is an overflow.
    static Int16 fromInt(qint64 value);
    // Rounds half to even, like the classic runtime's assignment of a float.
    static Int16 fromDouble(double value);

    constexpr qint16 value() const { return m_value; }
    constexpr operator qint16() const { return m_value; }

    Int16 &operator+=(Int16 other);
    Int16 &operator-=(Int16 other);
    friend Int16 operator+(Int16 a, Int16 b) { return a += b; }
    friend Int16 operator-(Int16 a, Int16 b) { return a -= b; }

private:
    static constexpr qint16 checked(qint64 value)
    {
        if (value < -32768 || value > 32767)
            raise(Overflow);
        return static_cast<qint16>(value);
    }

    qint16 m_value = 0;
};

} // namespace runtime
