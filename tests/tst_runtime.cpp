#include "Characters.h"
#include "Application.h"
#include "Int16.h"
#include "QtServices.h"
#include "RuntimeError.h"
#include "Values.h"

#include <QLocale>
#include <QProcess>
#include <QTest>

#include <limits>
#include <vector>

using runtime::Int16;

Q_DECLARE_METATYPE(std::function<void()>)

class RuntimeTest : public QObject
{
    Q_OBJECT
private slots:
    void leadingValueReadsTheNumberAtTheStart_data();
    void leadingValueReadsTheNumberAtTheStart();
    void leadingValueNeverFailsOnHugeText();
    void strictValueTakesOnlyAWholeNumber_data();
    void strictValueTakesOnlyAWholeNumber();
    void strictValueFollowsTheLocaleSeparator();
    void formatValueByPattern_data();
    void formatValueByPattern();
    void integerTextHasNoBlank();
    void sixteenBitArithmeticOverflows_data();
    void sixteenBitArithmeticOverflows();
    void floatToSixteenBitRoundsHalfToEven();
    void codePageRoundTrip_data();
    void codePageRoundTrip();
    void characterServices();
    void nextRandomStaysBelowOneAndRepeatsOnZero();
    void errorReportIsItalianAndNamesTheNumber();
    void errorInAnEventEndsTheProcessWithItsNumber();
    void platformPrefersAnXDisplayUnlessNamed_data();
    void platformPrefersAnXDisplayUnlessNamed();
};

void RuntimeTest::leadingValueReadsTheNumberAtTheStart_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("plain") << "50" << 50.0;
    QTest::newRow("blank inside") << "1 2" << 12.0;
    QTest::newRow("leading blank and sign") << " -5" << -5.0;
    QTest::newRow("tab and line feed") << "\t7\n" << 7.0;
    QTest::newRow("line end stops at CR") << "12\r\n" << 12.0;
    QTest::newRow("CR before digits") << "\r12" << 0.0;
    QTest::newRow("letters after") << "12abc" << 12.0;
    QTest::newRow("letters only") << "abc" << 0.0;
    QTest::newRow("fraction") << "0.5" << 0.5;
    QTest::newRow("second point ends") << "2.5.1" << 2.5;
    QTest::newRow("no exponent") << "1e9" << 1.0;
    QTest::newRow("no hexadecimal") << "0x1F" << 0.0;
    QTest::newRow("blanks only") << "   " << 0.0;
    QTest::newRow("sign alone") << "-" << 0.0;
    QTest::newRow("sign after digits ends") << "5-3" << 5.0;
    QTest::newRow("plus sign") << "+42" << 42.0;
    QTest::newRow("leading zeros") << "007" << 7.0;
    QTest::newRow("comma is no decimal point") << "2,5" << 2.0;
    QTest::newRow("above the cap") << "100000" << 100000.0;
}

void RuntimeTest::leadingValueReadsTheNumberAtTheStart()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(runtime::LeadingValue(text), value);
}

// Whatever the text, the value comes back: no crash, no hang.
void RuntimeTest::leadingValueNeverFailsOnHugeText()
{
    const QString digits(1'000'000, u'9');
    QVERIFY(runtime::LeadingValue(digits) > 1e300);
    QCOMPARE(runtime::LeadingValue(QString(400, u'0') + "12"), 12.0);
    QCOMPARE(runtime::LeadingValue("0." + QString(500, u'0') + "1"), 0.0);
    QCOMPARE(runtime::LeadingValue("1" + QString(30, u'0')), 1e30);
}

void RuntimeTest::strictValueTakesOnlyAWholeNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("value");
    QTest::newRow("digits") << "27" << true << 27.0;
    QTest::newRow("surrounding blanks") << "  27 " << true << 27.0;
    QTest::newRow("zero") << "0" << true << 0.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("letters") << "abc" << false << 0.0;
    QTest::newRow("trailing letters") << "12abc" << false << 0.0;
    QTest::newRow("line end") << "12\r\n" << false << 0.0;
}

void RuntimeTest::strictValueTakesOnlyAWholeNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(double, value);
    try {
        const double result = runtime::StrictValue(text);
        QVERIFY(valid);
        QCOMPARE(result, value);
    } catch (const runtime::RuntimeError &error) {
        QVERIFY(!valid);
        QCOMPARE(error.code(), 13);
    }
}

void RuntimeTest::strictValueFollowsTheLocaleSeparator()
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    const double value = runtime::StrictValue("2,5");
    QLocale::setDefault(saved);
    QCOMPARE(value, 2.5);
}

void RuntimeTest::formatValueByPattern_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("text");
    QTest::newRow("00 pads") << "00" << 5 << "05";
    QTest::newRow("00 zero") << "00" << 0 << "00";
    QTest::newRow("00 never cuts") << "00" << 123 << "123";
    QTest::newRow("#0 zero") << "#0" << 0 << "0";
    QTest::newRow("#0 plain") << "#0" << 123 << "123";
    QTest::newRow("###0 no grouping") << "###0" << 32767 << "32767";
    QTest::newRow("####0 zero") << "####0" << 0 << "0";
    QTest::newRow("####0 negative") << "####0" << -27 << "-27";
}

// The three kinds of value give the same text for the same number.
void RuntimeTest::formatValueByPattern()
{
    QFETCH(QString, pattern);
    QFETCH(int, number);
    QFETCH(QString, text);
    QCOMPARE(runtime::FormatValue(Int16(number), pattern), text);
    QCOMPARE(runtime::FormatValue(float(number), pattern), text);
    QCOMPARE(runtime::FormatValue(QString::number(number), pattern), text);
}

void RuntimeTest::integerTextHasNoBlank()
{
    QCOMPARE(runtime::IntegerText(27), QStringLiteral("27"));
    QCOMPARE(runtime::IntegerText(-5), QStringLiteral("-5"));
    QCOMPARE(runtime::IntegerText(0), QStringLiteral("0"));
}

void RuntimeTest::sixteenBitArithmeticOverflows_data()
{
    QTest::addColumn<std::function<void()>>("operation");
    QTest::newRow("add past the top") << std::function<void()>([] { Int16 a = 32767; a += 1; });
    QTest::newRow("subtract past the bottom") << std::function<void()>([] { Int16 a = -32768; a -= 1; });
    QTest::newRow("sum of two counters") << std::function<void()>([] { Int16 a = 20000, b = 20000; (void)(a + b); });
    QTest::newRow("int out of range") << std::function<void()>([] { (void)Int16::fromInt(40000); });
    QTest::newRow("float too large") << std::function<void()>([] { (void)Int16::fromDouble(32767.5); });
    QTest::newRow("float overflow") << std::function<void()>(
        [] { (void)Int16::fromDouble(std::numeric_limits<double>::infinity()); });
    QTest::newRow("not a number") << std::function<void()>(
        [] { (void)Int16::fromDouble(std::numeric_limits<double>::quiet_NaN()); });
}

void RuntimeTest::sixteenBitArithmeticOverflows()
{
    QFETCH(std::function<void()>, operation);
    try {
        operation();
        QFAIL("no overflow");
    } catch (const runtime::RuntimeError &error) {
        QCOMPARE(error.code(), 6);
    }
}

void RuntimeTest::floatToSixteenBitRoundsHalfToEven()
{
    QCOMPARE(qint16(Int16::fromDouble(900.0f + 0.0f)), qint16(900));
    QCOMPARE(qint16(Int16::fromDouble(2.5)), qint16(2));
    QCOMPARE(qint16(Int16::fromDouble(3.5)), qint16(4));
    QCOMPARE(qint16(Int16::fromDouble(-32768.0)), qint16(-32768));
    Int16 edge = 32766;
    edge += 1;
    QCOMPARE(qint16(edge), qint16(32767));
}

void RuntimeTest::codePageRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << "Anna" << QByteArray("Anna");
    QTest::newRow("accented letter, one byte") << "Niccolò è" << QByteArray("Niccol\xF2 \xE8");
    QTest::newRow("euro sign from the 0x80 block") << "€" << QByteArray("\x80");
    QTest::newRow("curly quote") << "\u201C" << QByteArray("\x93");
    QTest::newRow("line end") << "12\r\n" << QByteArray("12\r\n");
}

void RuntimeTest::codePageRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(runtime::toCodePage(text), bytes);
    QCOMPARE(runtime::fromCodePage(bytes), text);
}

void RuntimeTest::characterServices()
{
    // Characters outside the code page become one "?" each, pairs included.
    QCOMPARE(runtime::toCodePage(QStringLiteral("Łódź 😀")), QByteArray("?\xF3" "d? ?"));
    QCOMPARE(qint16(runtime::Asc("a")), qint16(97));
    QCOMPARE(qint16(runtime::Asc("è")), qint16(0xE8));
    QCOMPARE(qint16(runtime::Asc("")), qint16(0));
    QCOMPARE(runtime::Chr(13), QStringLiteral("\r"));
    QCOMPARE(runtime::Chr(0x80), QStringLiteral("€"));
    QCOMPARE(runtime::UCase("abc è ÿ"), QStringLiteral("ABC È Ÿ"));
    QCOMPARE(runtime::UCase("µß"), QStringLiteral("µß"));
    try {
        runtime::Chr(256);
        QFAIL("no error");
    } catch (const runtime::RuntimeError &error) {
        QCOMPARE(error.code(), 5);
    }
}

void RuntimeTest::nextRandomStaysBelowOneAndRepeatsOnZero()
{
    runtime::QtServices services;
    services.SeedRandom();
    for (int i = 0; i < 100000; ++i) {
        const float r = services.NextRandom();
        QVERIFY(r >= 0.0f && r < 1.0f);
        QCOMPARE(services.NextRandom(0), r);
    }
}

void RuntimeTest::errorReportIsItalianAndNamesTheNumber()
{
    for (int code : {6, 9, 13, 53, 61, 70, 75, 76}) {
        const QString report = runtime::errorReport(code);
        QVERIFY2(report.contains(QString::number(code)), qPrintable(report));
        QVERIFY2(!runtime::errorDescription(code).isEmpty(), qPrintable(report));
        QVERIFY(runtime::errorDescription(code) != runtime::errorDescription(1));
    }
}

// A runtime error that leaves an event handler reaches the one report at
// the top of event dispatch, and the process ends with the error's number.
void RuntimeTest::errorInAnEventEndsTheProcessWithItsNumber()
{
    QProcess process;
    process.setProgram(QStringLiteral(ERROR_HELPER));
    process.start();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 6);
    const QString output = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(output.contains(runtime::errorReport(6)), qPrintable(output));
    QVERIFY2(!output.contains(u"after the error"), qPrintable(output));
}

void RuntimeTest::platformPrefersAnXDisplayUnlessNamed_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QByteArrayList>("arguments");
    QTest::addColumn<QByteArray>("platforms"); // empty: Qt's own choice
    const QStringList both{"DISPLAY=:0", "WAYLAND_DISPLAY=wayland-0"};
    QTest::newRow("X desktop") << QStringList{"DISPLAY=:0"} << QByteArrayList{} << QByteArray("xcb;wayland");
    QTest::newRow("Wayland with XWayland") << both << QByteArrayList{} << QByteArray("xcb;wayland");
    QTest::newRow("Wayland only") << QStringList{"WAYLAND_DISPLAY=wayland-0"} << QByteArrayList{} << QByteArray();
    QTest::newRow("no display") << QStringList{} << QByteArrayList{} << QByteArray();
    QTest::newRow("named by variable") << both + QStringList{"QT_QPA_PLATFORM=wayland"} << QByteArrayList{} << QByteArray();
    QTest::newRow("variable empty") << both + QStringList{"QT_QPA_PLATFORM="} << QByteArrayList{} << QByteArray("xcb;wayland");
    QTest::newRow("-platform") << both << QByteArrayList{"-platform", "wayland"} << QByteArray();
    QTest::newRow("--platform") << both << QByteArrayList{"--platform", "offscreen"} << QByteArray();
    QTest::newRow("a theme is no platform") << both << QByteArrayList{"-platformtheme", "gtk3"} << QByteArray("xcb;wayland");
}

void RuntimeTest::platformPrefersAnXDisplayUnlessNamed()
{
    QFETCH(QStringList, environment);
    QFETCH(QByteArrayList, arguments);
    QFETCH(QByteArray, platforms);
    QProcessEnvironment variables;
    for (const QString &variable : std::as_const(environment))
        variables.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    arguments.prepend("valtrino");
    std::vector<const char *> argv;
    for (const QByteArray &argument : std::as_const(arguments))
        argv.push_back(argument.constData());
    QCOMPARE(runtime::preferredPlatforms(variables, int(argv.size()), argv.data()), platforms);
}

QTEST_GUILESS_MAIN(RuntimeTest)
#include "tst_runtime.moc"
