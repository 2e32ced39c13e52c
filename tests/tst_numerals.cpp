#include "Modulo1.h"
#include "RuntimeError.h"

#include <QTest>

class NumeralsTest : public QObject
{
    Q_OBJECT
private slots:
    void numeralOfEachNumber_data();
    void numeralOfEachNumber();
    void negativeNumberRunsOffTheTable();
};

void NumeralsTest::numeralOfEachNumber_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("numeral");
    QTest::newRow("zero") << 0 << "";
    QTest::newRow("1") << 1 << "I";
    QTest::newRow("3") << 3 << "III";
    QTest::newRow("4") << 4 << "IV";
    QTest::newRow("9") << 9 << "IX";
    QTest::newRow("14") << 14 << "XIV";
    QTest::newRow("40") << 40 << "XL";
    QTest::newRow("49") << 49 << "XLIX";
    QTest::newRow("90") << 90 << "XC";
    QTest::newRow("400") << 400 << "CD";
    QTest::newRow("444") << 444 << "CDXLIV";
    QTest::newRow("900") << 900 << "CM";
    QTest::newRow("1994") << 1994 << "MCMXCIV";
    QTest::newRow("3799") << 3799 << "MMMDCCXCIX";
    QTest::newRow("3899, the largest a question can ask") << 3899 << "MMMDCCCXCIX";
    QTest::newRow("4000 repeats M") << 4000 << "MMMM";
    QTest::newRow("32767") << 32767 << QString(32, u'M') + "DCCLXVII";
}

// The numeral is greedy with subtractive pairs, and the caller's variable is
// counted down to 0.
void NumeralsTest::numeralOfEachNumber()
{
    QFETCH(int, number);
    QFETCH(QString, numeral);
    qint16 variable = qint16(number);
    QCOMPARE(Modulo1::ToRoman(variable), numeral);
    QCOMPARE(variable, qint16(0));
}

// A negative number is outside the contract: it is error 9, not a hang.
void NumeralsTest::negativeNumberRunsOffTheTable()
{
    qint16 variable = -1;
    try {
        Modulo1::ToRoman(variable);
        QFAIL("no error");
    } catch (const runtime::RuntimeError &error) {
        QCOMPARE(error.code(), 9);
    }
}

QTEST_APPLESS_MAIN(NumeralsTest)
#include "tst_numerals.moc"
