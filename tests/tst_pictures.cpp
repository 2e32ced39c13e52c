// The pictures are drawn and packed during the build; these tests read them
// back the way the game does, from the resources linked into the program.

#include "Pictures.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QtTest>

#include <cmath>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint32 little(const QByteArray &bytes, qsizetype at, int width)
{
    quint32 v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = v << 8 | quint8(bytes.at(at + i));
    return v;
}

// The marker of the first frame header, walking segment by segment so that
// bytes inside a segment are never taken for a marker. 0 if there is none.
int jpegFrameMarker(const QByteArray &bytes)
{
    if (!bytes.startsWith("\xff\xd8"))
        return 0;
    qsizetype at = 2;
    while (at + 4 <= bytes.size()) {
        if (quint8(bytes.at(at)) != 0xff)
            return 0;
        const int marker = quint8(bytes.at(at + 1));
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc)
            return marker;
        if (marker == 0xda) // start of scan: the header is over
            return 0;
        at += 2 + (quint8(bytes.at(at + 2)) << 8 | quint8(bytes.at(at + 3)));
    }
    return 0;
}

// Coarse names for colours, so the checks survive shading and JPEG noise
// but not a swapped channel or a lost mask.
QString colourName(QRgb pixel)
{
    if (qAlpha(pixel) < 128)
        return QStringLiteral("transparent");
    const QColor c = QColor::fromRgb(pixel);
    if (c.hsvSaturation() < 50)
        return c.value() > 215 ? QStringLiteral("white")
             : c.value() < 50  ? QStringLiteral("black")
                               : QStringLiteral("grey");
    if (c.value() < 50)
        return QStringLiteral("black");
    const int h = c.hsvHue();
    if (h < 20 || h >= 340)
        return QStringLiteral("red");
    if (h >= 45 && h < 70)
        return QStringLiteral("yellow");
    if (h >= 90 && h < 160)
        return QStringLiteral("green");
    if (h >= 200 && h < 260)
        return QStringLiteral("blue");
    return QStringLiteral("other");
}

QImage readImage(const QString &path, int index = 0)
{
    QImageReader reader(path);
    if (index > 0 && !reader.jumpToImage(index))
        return QImage();
    return reader.read().convertToFormat(QImage::Format_ARGB32);
}

struct Look
{
    const char *name;
    QString (*path)();
    int image;
    QPoint at;
    const char *colour;
};

const Look lookTable[] = {
    {"window icon: yellow ground", pictures::windowIcon, 0, QPoint(2, 16), "yellow"},
    {"next: yellow face", pictures::nextNormal, 0, QPoint(16, 5), "yellow"},
    {"next: round, not square", pictures::nextNormal, 0, QPoint(0, 0), "transparent"},
    {"next: eye", pictures::nextNormal, 0, QPoint(11, 12), "black"},
    {"next 16: yellow face", pictures::nextNormal, 1, QPoint(8, 3), "yellow"},
    {"next 16: round", pictures::nextNormal, 1, QPoint(0, 15), "transparent"},
    {"next pressed: yellow face", pictures::nextPressed, 0, QPoint(16, 5), "yellow"},
    {"next pressed: straight mouth", pictures::nextPressed, 0, QPoint(16, 21), "black"},
    {"next disabled: yellow face", pictures::nextDisabled, 0, QPoint(16, 5), "yellow"},
    {"next disabled: open red mouth", pictures::nextDisabled, 0, QPoint(16, 22), "red"},
    {"exit: white bar", pictures::exitButton, 0, QPoint(16, 16), "white"},
    {"exit: bar reaches across", pictures::exitButton, 0, QPoint(8, 16), "white"},
    {"exit: red disc", pictures::exitButton, 0, QPoint(16, 6), "red"},
    {"exit: round", pictures::exitButton, 0, QPoint(31, 31), "transparent"},
    {"exit 16: white bar", pictures::exitButton, 1, QPoint(5, 8), "white"},
    {"exit 16: red disc", pictures::exitButton, 1, QPoint(8, 3), "red"},
    {"stopwatch: white dial", pictures::stopwatch, 0, QPoint(12, 21), "white"},
    {"stopwatch: red mark at twelve", pictures::stopwatch, 0, QPoint(16, 9), "red"},
    {"portrait: white head", pictures::portrait, 0, QPoint(38, 38), "white"},
    {"portrait: dark ground", pictures::portrait, 0, QPoint(3, 3), "red"},
};

} // namespace

class TestPictures : public QObject
{
    Q_OBJECT

private slots:
    void encoding_data();
    void encoding();
    void looks_data();
    void looks();
    void pointerTipIsTheHotSpot();
    void emblemIsMulticoloured();
    void marbleIsGreyWithRedVeins();
    void doubleSize_data();
    void doubleSize();
    void looksTwice_data();
    void looksTwice();
    void doublePointerTipIsTheHotSpot();
};

void TestPictures::encoding_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("images");
    QTest::addColumn<int>("bits");       // ICO: bits per pixel of every image
    QTest::addColumn<int>("frameMarker"); // JPEG: C0 baseline, C2 progressive

    const QSize icon(32, 32);
    QTest::newRow("window icon") << pictures::windowIcon() << QByteArray("ico") << icon << 1 << 8 << 0;
    QTest::newRow("pointer") << pictures::windowPointer() << QByteArray("ico") << QSize(48, 48) << 1 << 8 << 0;
    QTest::newRow("next") << pictures::nextNormal() << QByteArray("ico") << icon << 2 << 4 << 0;
    QTest::newRow("next pressed") << pictures::nextPressed() << QByteArray("ico") << icon << 2 << 4 << 0;
    QTest::newRow("next disabled") << pictures::nextDisabled() << QByteArray("ico") << icon << 1 << 4 << 0;
    QTest::newRow("exit") << pictures::exitButton() << QByteArray("ico") << icon << 2 << 4 << 0;
    QTest::newRow("stopwatch") << pictures::stopwatch() << QByteArray("ico") << icon << 2 << 4 << 0;
    QTest::newRow("portrait") << pictures::portrait() << QByteArray("jpeg") << QSize(77, 86) << 1 << 0 << 0xc0;
    QTest::newRow("marble") << pictures::marble() << QByteArray("jpeg") << QSize(320, 200) << 1 << 0 << 0xc2;
}

void TestPictures::encoding()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QFETCH(int, images);
    QFETCH(int, bits);
    QFETCH(int, frameMarker);

    const QByteArray bytes = contents(path);
    QVERIFY2(!bytes.isEmpty(), qPrintable(path + " is not in the resources"));

    QImageReader reader(path);
    QCOMPARE(reader.format(), format);
    QCOMPARE(reader.imageCount(), images);
    const QImage first = reader.read();
    QVERIFY2(!first.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(first.size(), size);
    // The companion is the small picture for 16-pixel buttons.
    for (int i = 1; i < images; ++i) {
        QVERIFY(reader.jumpToNextImage());
        const QImage next = reader.read();
        QVERIFY2(!next.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(next.size(), QSize(16, 16));
    }

    if (format == "jpeg") {
        QCOMPARE(jpegFrameMarker(bytes), frameMarker);
        return;
    }

    // ICO directory, then each image's own header: both must agree on the
    // depth, and the stored size must match rows padded to 4 bytes.
    QVERIFY(bytes.size() >= 6);
    QCOMPARE(little(bytes, 0, 2), 0u);
    QCOMPARE(little(bytes, 2, 2), 1u);
    QCOMPARE(int(little(bytes, 4, 2)), images);
    QVERIFY(bytes.size() >= 6 + 16 * images);
    for (int i = 0; i < images; ++i) {
        const qsizetype entry = 6 + 16 * i;
        const int width = quint8(bytes.at(entry));
        const int height = quint8(bytes.at(entry + 1));
        QCOMPARE(width, height);
        QCOMPARE(quint8(bytes.at(entry + 2)), quint8(bits == 4 ? 16 : 0));
        QCOMPARE(int(little(bytes, entry + 6, 2)), bits);
        const quint32 length = little(bytes, entry + 8, 4);
        const quint32 offset = little(bytes, entry + 12, 4);
        QVERIFY(qsizetype(offset) + 40 <= bytes.size());
        QVERIFY(qsizetype(offset + length) <= bytes.size());

        QCOMPARE(little(bytes, offset, 4), 40u);
        QCOMPARE(int(little(bytes, offset + 4, 4)), width);
        QCOMPARE(int(little(bytes, offset + 8, 4)), 2 * height);
        QCOMPARE(int(little(bytes, offset + 14, 2)), bits);
        const int colourRow = (width * bits + 31) / 32 * 4;
        const int maskRow = (width + 31) / 32 * 4;
        QCOMPARE(int(length), 40 + 4 * (1 << bits) + (colourRow + maskRow) * height);
    }
}

void TestPictures::looks_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("image");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QString>("colour");

    for (const Look &look : lookTable)
        QTest::newRow(look.name) << look.path() << look.image << look.at << QString::fromLatin1(look.colour);
}

void TestPictures::looks()
{
    QFETCH(QString, path);
    QFETCH(int, image);
    QFETCH(QPoint, at);
    QFETCH(QString, colour);

    const QImage picture = readImage(path, image);
    QVERIFY(!picture.isNull());
    QVERIFY(picture.rect().contains(at));
    const QRgb pixel = picture.pixel(at);
    QVERIFY2(colourName(pixel) == colour,
             qPrintable(QStringLiteral("%1 is #%2, not %3")
                            .arg(colourName(pixel)).arg(pixel, 8, 16, QLatin1Char('0')).arg(colour)));
}

// The game sets the pointer with this hot spot, so it has to be where the
// blade ends: the opaque pixel nearest the top left corner.
void TestPictures::pointerTipIsTheHotSpot()
{
    const QImage picture = readImage(pictures::windowPointer());
    QVERIFY(!picture.isNull());
    const QPoint hot = pictures::pointerHotSpot();
    QVERIFY(picture.rect().contains(hot));
    QVERIFY(qAlpha(picture.pixel(hot)) >= 128);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (qAlpha(picture.pixel(x, y)) >= 128 && x + y < hot.x() + hot.y())
                QFAIL(qPrintable(QStringLiteral("(%1, %2) is beyond the tip").arg(x).arg(y)));
}

void TestPictures::emblemIsMulticoloured()
{
    const QImage picture = readImage(pictures::windowIcon());
    QVERIFY(!picture.isNull());
    QSet<QString> names;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            names.insert(colourName(picture.pixel(x, y)));
    for (const char *name : {"yellow", "red", "green", "blue", "white"})
        QVERIFY2(names.contains(QLatin1String(name)), name);
}

void TestPictures::marbleIsGreyWithRedVeins()
{
    const QImage picture = readImage(pictures::marble());
    QVERIFY(!picture.isNull());
    int grey = 0, red = 0;
    double sum = 0, squares = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            const QString name = colourName(pixel);
            if (name == QLatin1String("red"))
                ++red;
            if (name == QLatin1String("grey") || name == QLatin1String("white")) {
                ++grey;
                sum += qGray(pixel);
                squares += qGray(pixel) * qGray(pixel);
            }
        }
    }
    const int all = picture.width() * picture.height();
    QVERIFY2(grey > all * 3 / 4, "mostly grey");
    QVERIFY2(red > all / 100, "veins are visible");
    QVERIFY2(red < all / 5, "veins, not a red slab");
    // A flat grey would be no marble.
    const double mean = sum / grey;
    QVERIFY(std::sqrt(squares / grey - mean * mean) > 8);
}

// The pictures for screens of twice the density: drawn anew at twice the
// size, so they must be the same pictures, not merely the right size.
void TestPictures::doubleSize_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("format");

    QTest::newRow("window icon") << pictures::windowIcon() << QByteArray("png");
    QTest::newRow("pointer") << pictures::windowPointer() << QByteArray("png");
    QTest::newRow("next") << pictures::nextNormal() << QByteArray("png");
    QTest::newRow("next pressed") << pictures::nextPressed() << QByteArray("png");
    QTest::newRow("next disabled") << pictures::nextDisabled() << QByteArray("png");
    QTest::newRow("exit") << pictures::exitButton() << QByteArray("png");
    QTest::newRow("stopwatch") << pictures::stopwatch() << QByteArray("png");
    QTest::newRow("portrait") << pictures::portrait() << QByteArray("jpeg");
    QTest::newRow("marble") << pictures::marble() << QByteArray("jpeg");
}

void TestPictures::doubleSize()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, format);

    const QString twice = pictures::doubleSize(path);
    QVERIFY2(QFile::exists(twice), qPrintable(twice + " is not in the resources"));
    QImageReader reader(twice);
    QCOMPARE(reader.format(), format);
    const QImage big = reader.read();
    QVERIFY2(!big.isNull(), qPrintable(reader.errorString()));
    // Qt takes the density from the name; without it the picture would
    // show at twice its size.
    QCOMPARE(big.devicePixelRatio(), 2.0);

    const QImage small = readImage(path);
    QVERIFY(!small.isNull());
    QCOMPARE(big.size(), small.size() * 2);

    // Both reduced to half the small size must match: that evens out the
    // small one's fewer colours. On grey, so that transparency counts too.
    const QSize half = small.size() / 2;
    const auto reduce = [&](const QImage &image) {
        QImage r = image.scaled(half, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                       .convertToFormat(QImage::Format_ARGB32);
        r.setDevicePixelRatio(1);
        return r;
    };
    const QImage a = reduce(small), b = reduce(big);
    const auto onGrey = [](QRgb p, int channel) {
        const int value = channel == 0 ? qRed(p) : channel == 1 ? qGreen(p) : qBlue(p);
        return (value * qAlpha(p) + 128 * (255 - qAlpha(p))) / 255;
    };
    double difference = 0;
    for (int y = 0; y < half.height(); ++y)
        for (int x = 0; x < half.width(); ++x)
            for (int c = 0; c < 3; ++c)
                difference += std::abs(onGrey(a.pixel(x, y), c) - onGrey(b.pixel(x, y), c));
    difference /= 3.0 * half.width() * half.height();
    QVERIFY2(difference < 10, qPrintable(QStringLiteral("differs by %1 on average").arg(difference)));
}

void TestPictures::looksTwice_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QString>("colour");

    for (const Look &look : lookTable)
        if (look.image == 0) // the 16-pixel companions have no double
            QTest::newRow(look.name) << look.path() << look.at << QString::fromLatin1(look.colour);
}

void TestPictures::looksTwice()
{
    QFETCH(QString, path);
    QFETCH(QPoint, at);
    QFETCH(QString, colour);

    const QImage picture = readImage(pictures::doubleSize(path));
    QVERIFY(!picture.isNull());
    const QPoint twice = at * 2;
    QVERIFY(picture.rect().contains(twice));
    const QRgb pixel = picture.pixel(twice);
    QVERIFY2(colourName(pixel) == colour,
             qPrintable(QStringLiteral("%1 is #%2, not %3")
                            .arg(colourName(pixel)).arg(pixel, 8, 16, QLatin1Char('0')).arg(colour)));
}

// The game keeps the hot spot in the small picture's units; twice the size,
// the tip must still be there.
void TestPictures::doublePointerTipIsTheHotSpot()
{
    const QImage picture = readImage(pictures::doubleSize(pictures::windowPointer()));
    QVERIFY(!picture.isNull());
    const QPoint hot = pictures::pointerHotSpot() * 2;
    int tip = picture.width() + picture.height();
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (qAlpha(picture.pixel(x, y)) >= 128)
                tip = std::min(tip, x + y);
    QVERIFY2(std::abs(tip - (hot.x() + hot.y())) <= 2,
             qPrintable(QStringLiteral("the tip is at x + y = %1").arg(tip)));
}

QTEST_GUILESS_MAIN(TestPictures)
#include "tst_pictures.moc"
