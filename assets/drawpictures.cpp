// Draws every picture of the game during the build, so the repository holds
// the code that makes them rather than binary files.
//
//   drawpictures OUTDIR
//
// Only shapes are drawn (no text): the result does not depend on the fonts
// of the building machine, and no QGuiApplication, hence no display or
// platform plugin, is needed.

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QCoreApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QStringList>
#include <QTransform>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

using Palette = std::vector<QRgb>;

// ---------------------------------------------------------------- ICO files

void put16(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xff));
    out.append(char((v >> 8) & 0xff));
}

void put32(QByteArray &out, quint32 v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

// The Windows 16-colour palette in its usual order; with it a 4-bpp icon
// shows the same colours in every viewer.
const Palette vgaPalette = {
    qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255),
};

// Weighted so that greens count more than blues, closer to what the eye sees
// than a plain RGB distance.
int colourDistance(QRgb a, QRgb b)
{
    const int mean = (qRed(a) + qRed(b)) / 2;
    const int dr = qRed(a) - qRed(b);
    const int dg = qGreen(a) - qGreen(b);
    const int db = qBlue(a) - qBlue(b);
    return (((512 + mean) * dr * dr) >> 8) + 4 * dg * dg + (((767 - mean) * db * db) >> 8);
}

int nearestIndex(const Palette &palette, QRgb colour)
{
    int best = 0;
    int bestDistance = colourDistance(palette[0], colour);
    for (int i = 1; i < int(palette.size()); ++i) {
        const int d = colourDistance(palette[i], colour);
        if (d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

bool opaque(QRgb pixel)
{
    return qAlpha(pixel) >= 128;
}

// Median cut over the opaque pixels. Index 0 stays black: transparent pixels
// use it, so the screen shows through them unchanged.
Palette palette256(const QImage &picture)
{
    std::vector<QRgb> pixels;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (const QRgb p = picture.pixel(x, y); opaque(p))
                pixels.push_back(p | 0xff000000u);

    struct Box { size_t begin, end; };
    std::vector<Box> boxes;
    if (!pixels.empty())
        boxes.push_back({0, pixels.size()});

    const auto channel = [](QRgb p, int c) { return c == 0 ? qRed(p) : c == 1 ? qGreen(p) : qBlue(p); };
    while (boxes.size() < 255) {
        int bestBox = -1, bestChannel = 0, bestRange = 0;
        for (int b = 0; b < int(boxes.size()); ++b) {
            for (int c = 0; c < 3; ++c) {
                int lo = 255, hi = 0;
                for (size_t i = boxes[b].begin; i < boxes[b].end; ++i) {
                    lo = std::min(lo, channel(pixels[i], c));
                    hi = std::max(hi, channel(pixels[i], c));
                }
                if (hi - lo > bestRange) {
                    bestRange = hi - lo;
                    bestBox = b;
                    bestChannel = c;
                }
            }
        }
        if (bestBox < 0)
            break; // every box holds a single colour
        const Box box = boxes[bestBox];
        // Ties broken on the whole value so that the result never depends on
        // the sort's handling of equal keys.
        std::sort(pixels.begin() + box.begin, pixels.begin() + box.end, [&](QRgb a, QRgb b) {
            const int ca = channel(a, bestChannel), cb = channel(b, bestChannel);
            return ca != cb ? ca < cb : a < b;
        });
        const size_t middle = box.begin + (box.end - box.begin) / 2;
        boxes[bestBox] = {box.begin, middle};
        boxes.push_back({middle, box.end});
    }

    Palette palette{qRgb(0, 0, 0)};
    for (const Box &box : boxes) {
        quint64 r = 0, g = 0, b = 0;
        for (size_t i = box.begin; i < box.end; ++i) {
            r += qRed(pixels[i]);
            g += qGreen(pixels[i]);
            b += qBlue(pixels[i]);
        }
        const quint64 n = box.end - box.begin;
        palette.push_back(qRgb(int((r + n / 2) / n), int((g + n / 2) / n), int((b + n / 2) / n)));
    }
    palette.resize(256, qRgb(0, 0, 0));
    return palette;
}

struct IconImage
{
    int size = 0;
    int bits = 0;
    QByteArray dib;
};

// One icon image as a DIB: header with doubled height, palette, colour
// bitmap, then the 1-bpp transparency mask; rows bottom-up, 4-byte aligned.
IconImage encodeIcon(const QImage &picture, const Palette &palette, int bits)
{
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width(), h = image.height();
    const int colourStride = (w * bits + 31) / 32 * 4;
    const int maskStride = (w + 31) / 32 * 4;
    QByteArray colours(colourStride * h, '\0');
    QByteArray mask(maskStride * h, '\0');

    for (int y = 0; y < h; ++y) {
        const int row = h - 1 - y;
        for (int x = 0; x < w; ++x) {
            const QRgb pixel = image.pixel(x, y);
            int index = 0;
            if (opaque(pixel))
                index = nearestIndex(palette, pixel);
            else
                mask[row * maskStride + x / 8] = char(mask[row * maskStride + x / 8] | (0x80 >> (x % 8)));
            if (bits == 8) {
                colours[row * colourStride + x] = char(index);
            } else {
                const int at = row * colourStride + x / 2;
                colours[at] = char(colours[at] | (x % 2 == 0 ? index << 4 : index));
            }
        }
    }

    IconImage icon{w, bits, {}};
    QByteArray &dib = icon.dib;
    put32(dib, 40);                                  // header size
    put32(dib, quint32(w));
    put32(dib, quint32(2 * h));                      // colours and mask together
    put16(dib, 1);                                   // planes
    put16(dib, quint32(bits));
    put32(dib, 0);                                   // uncompressed
    put32(dib, quint32(colours.size() + mask.size()));
    put32(dib, 0);
    put32(dib, 0);
    put32(dib, 0);                                   // all 2^bits colours used
    put32(dib, 0);
    for (int i = 0; i < (1 << bits); ++i) {
        const QRgb c = palette[i];
        dib.append(char(qBlue(c)));
        dib.append(char(qGreen(c)));
        dib.append(char(qRed(c)));
        dib.append('\0');
    }
    dib.append(colours);
    dib.append(mask);
    return icon;
}

IconImage icon16Colours(const QImage &picture)
{
    return encodeIcon(picture, vgaPalette, 4);
}

IconImage icon256Colours(const QImage &picture)
{
    return encodeIcon(picture, palette256(picture), 8);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()) {
        std::fprintf(stderr, "drawpictures: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(file.errorString()));
        return false;
    }
    return true;
}

bool writeIco(const QString &path, const std::vector<IconImage> &images)
{
    QByteArray out;
    put16(out, 0);
    put16(out, 1); // icon, not cursor
    put16(out, quint32(images.size()));
    quint32 offset = quint32(6 + 16 * images.size());
    for (const IconImage &image : images) {
        out.append(char(image.size));
        out.append(char(image.size));
        out.append(char(image.bits == 4 ? 16 : 0));
        out.append('\0');
        put16(out, 1);
        put16(out, quint32(image.bits));
        put32(out, quint32(image.dib.size()));
        put32(out, offset);
        offset += quint32(image.dib.size());
    }
    for (const IconImage &image : images)
        out.append(image.dib);
    return writeFile(path, out);
}

bool writeJpeg(const QString &path, const QImage &picture, bool progressive)
{
    QImageWriter writer(path, "jpeg");
    writer.setQuality(90);
    writer.setProgressiveScanWrite(progressive);
    // Fixed density: QImage's default follows the screen, if there is one,
    // and the file would change with it.
    QImage image = picture.convertToFormat(QImage::Format_RGB32);
    image.setDotsPerMeterX(3780);
    image.setDotsPerMeterY(3780);
    if (!writer.write(image)) {
        std::fprintf(stderr, "drawpictures: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(writer.errorString()));
        return false;
    }
    return true;
}

// Fixed density, for the same reason as the JPEG files.
bool writePng(const QString &path, const QImage &picture)
{
    QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    image.setDotsPerMeterX(3780);
    image.setDotsPerMeterY(3780);
    QImageWriter writer(path, "png");
    if (!writer.write(image)) {
        std::fprintf(stderr, "drawpictures: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(writer.errorString()));
        return false;
    }
    return true;
}

// ----------------------------------------------------------------- noise

// Integer hash rather than a library generator, so the pictures come out
// the same with every compiler and standard library.
quint32 hash(int x, int y, quint32 seed)
{
    quint32 h = seed ^ (quint32(x) * 0x27d4eb2du);
    h = (h ^ (h >> 15)) * 0x85ebca6bu;
    h ^= quint32(y) * 0x165667b1u;
    h = (h ^ (h >> 13)) * 0xc2b2ae35u;
    return h ^ (h >> 16);
}

double valueNoise(double x, double y, quint32 seed)
{
    const double fx = std::floor(x), fy = std::floor(y);
    const int ix = int(fx), iy = int(fy);
    const double tx = x - fx, ty = y - fy;
    const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
    const auto at = [&](int dx, int dy) { return hash(ix + dx, iy + dy, seed) / 4294967295.0; };
    const double top = at(0, 0) + (at(1, 0) - at(0, 0)) * sx;
    const double bottom = at(0, 1) + (at(1, 1) - at(0, 1)) * sx;
    return top + (bottom - top) * sy;
}

// Sum of octaves, scaled back to 0..1.
double fbm(double x, double y, quint32 seed, int octaves)
{
    double sum = 0, amplitude = 0.5, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += amplitude * valueNoise(x, y, seed + quint32(i) * 1013u);
        total += amplitude;
        x = x * 2.03 + 17.1;
        y = y * 2.03 + 5.7;
        amplitude *= 0.5;
    }
    return sum / total;
}

double mix(double a, double b, double t)
{
    return a + (b - a) * t;
}

int clampByte(double v)
{
    return std::clamp(int(std::lround(v)), 0, 255);
}

// Sharp bands where the warped sine crosses zero: that is what reads as a
// vein.
double vein(double phase, double sharpness)
{
    return std::pow(1.0 - std::abs(std::sin(phase)), sharpness);
}

// A texture `scale` times larger than w x h: each pixel takes the colour at
// its centre in the coordinates of the picture at its own size, so the
// texture looks the same at any density.
template<typename ColourAt>
QImage texture(int w, int h, int scale, ColourAt colourAt)
{
    const auto unscaled = [scale](int i) { return (i + 0.5) / scale - 0.5; };
    QImage image(w * scale, h * scale, QImage::Format_RGB32);
    for (int row = 0; row < image.height(); ++row) {
        const double y = unscaled(row);
        for (int column = 0; column < image.width(); ++column)
            image.setPixel(column, row, colourAt(unscaled(column), y));
    }
    return image;
}

QImage greyMarble(int w, int h, int scale = 1)
{
    return texture(w, h, scale, [](double x, double y) {
        const double cloud = fbm(x / 85.0, y / 85.0, 0x5eed01u, 5);
        const double grain = valueNoise(x / 1.7, y / 1.7, 0x5eed02u) - 0.5;
        // Few octaves in the warp: more of them turn veins into scribbles.
        const double phase = x * 0.016 + y * 0.012 + 5.0 * fbm(x / 110.0, y / 110.0, 0x5eed03u, 3);
        const double big = std::min(1.0, 0.9 * vein(phase, 22) + 0.3 * vein(phase, 5));
        const double thin = vein(-x * 0.011 + y * 0.026 + 6.0 * fbm(x / 70.0, y / 70.0, 0x5eed04u, 3), 45);
        const double grey = 150 + 75 * cloud + 10 * grain;
        double r = grey + 2, g = grey, b = grey + 3;
        r = mix(r, 168, big * 0.85);
        g = mix(g, 74, big * 0.85);
        b = mix(b, 64, big * 0.85);
        r = mix(r, 150, thin * 0.45);
        g = mix(g, 95, thin * 0.45);
        b = mix(b, 90, thin * 0.45);
        return qRgb(clampByte(r), clampByte(g), clampByte(b));
    });
}

// Statuary marble: nearly white with faint grey veins.
QImage whiteMarble(int w, int h, int scale = 1)
{
    return texture(w, h, scale, [](double x, double y) {
        const double cloud = fbm(x / 60.0, y / 60.0, 0xb1a9c0u, 4);
        const double v = vein(x * 0.02 - y * 0.015 + 6.0 * fbm(x / 50.0, y / 50.0, 0xb1a9c1u, 5), 30);
        const double grey = 236 + 16 * cloud - 40 * v;
        return qRgb(clampByte(grey), clampByte(grey - 1), clampByte(grey + 2));
    });
}

// ---------------------------------------------------------------- drawing

QImage blank(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Every icon is designed on a 32-unit square and scaled to its size.
void startIcon(QPainter &p, int size)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
}

QPen roundPen(const QColor &colour, qreal width)
{
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The emblem's design on its 32-unit square, shared by the bitmaps and the
// scalable icon so that they cannot drift apart.
namespace design {
const QColor groundTop(255, 236, 70);
const QColor groundBottom(250, 200, 20);
const QColor groundRim(190, 135, 0);
constexpr qreal corner = 5;
const QPointF centre(16, 16);
constexpr qreal shield = 11;
// Counter-clockwise from three o'clock, as QPainter::drawPie counts.
const std::array<QColor, 4> quarters = {QColor(40, 90, 210), QColor(215, 35, 40),
                                        QColor(40, 160, 70), QColor(150, 60, 180)};
constexpr qreal crossWidth = 3;
const QColor outline(70, 35, 0);
constexpr qreal shieldRim = 1.6;
const QColor boss(255, 200, 0);
constexpr qreal bossRadius = 3.2;
} // namespace design

QImage emblem(int size = 32)
{
    using namespace design;
    QImage image = blank(size, size);
    QPainter p(&image);
    startIcon(p, size);

    QLinearGradient ground(0, 0, 0, 32);
    ground.setColorAt(0, groundTop);
    ground.setColorAt(1, groundBottom);
    p.setPen(QPen(groundRim, 1));
    p.setBrush(ground);
    p.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), corner, corner);

    // A round shield quartered in four colours with a white cross and boss.
    const QPointF c = centre;
    const qreal r = shield;
    const QRectF disc(c.x() - r, c.y() - r, 2 * r, 2 * r);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        p.setBrush(quarters[i]);
        p.drawPie(disc, i * 90 * 16, 90 * 16);
    }
    p.setBrush(Qt::white);
    p.drawRect(QRectF(c.x() - crossWidth / 2, c.y() - r, crossWidth, 2 * r));
    p.drawRect(QRectF(c.x() - r, c.y() - crossWidth / 2, 2 * r, crossWidth));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(outline, shieldRim));
    p.drawEllipse(disc);
    p.setPen(QPen(outline, 1));
    p.setBrush(boss);
    p.drawEllipse(c, bossRadius, bossRadius);
    return image;
}

QString svgNumber(qreal v)
{
    return QString::number(v, 'g', 6);
}

// The same emblem as SVG, for the scalable program icon.
QByteArray emblemSvg()
{
    using namespace design;
    const auto n = svgNumber;
    const QPointF c = centre;
    const qreal r = shield;
    QString svg = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" viewBox=\"0 0 32 32\">\n"
        "  <defs>\n"
        "    <linearGradient id=\"ground\" gradientUnits=\"userSpaceOnUse\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"32\">\n"
        "      <stop offset=\"0\" stop-color=\"%1\"/>\n"
        "      <stop offset=\"1\" stop-color=\"%2\"/>\n"
        "    </linearGradient>\n"
        "  </defs>\n"
        "  <rect x=\"0.5\" y=\"0.5\" width=\"31\" height=\"31\" rx=\"%3\" ry=\"%3\" fill=\"url(#ground)\" "
        "stroke=\"%4\" stroke-width=\"1\"/>\n")
        .arg(groundTop.name(), groundBottom.name(), n(corner), groundRim.name());
    // y grows downwards, so counter-clockwise on screen is sweep flag 0.
    const auto at = [&](int degrees) {
        const double a = degrees * std::numbers::pi / 180;
        return n(c.x() + r * std::cos(a)) + QLatin1Char(',') + n(c.y() - r * std::sin(a));
    };
    for (int i = 0; i < 4; ++i)
        svg += QStringLiteral("  <path d=\"M%1,%2 L%3 A%4,%4 0 0 0 %5 Z\" fill=\"%6\"/>\n")
                   .arg(n(c.x()), n(c.y()), at(i * 90), n(r), at((i + 1) * 90), quarters[i].name());
    svg += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"#ffffff\"/>\n")
               .arg(n(c.x() - crossWidth / 2), n(c.y() - r), n(crossWidth), n(2 * r));
    svg += QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"#ffffff\"/>\n")
               .arg(n(c.x() - r), n(c.y() - crossWidth / 2), n(2 * r), n(crossWidth));
    svg += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"none\" stroke=\"%4\" stroke-width=\"%5\"/>\n")
               .arg(n(c.x()), n(c.y()), n(r), outline.name(), n(shieldRim));
    svg += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\" stroke=\"%5\" stroke-width=\"1\"/>\n")
               .arg(n(c.x()), n(c.y()), n(bossRadius), boss.name(), outline.name());
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

// A gladius pointing up and left; the tip is the pointer's hot spot.
QImage pointer(int scale = 1)
{
    QImage image = blank(48 * scale, 48 * scale);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    p.translate(1.2, 1.2);
    p.rotate(45);
    const QColor outline(25, 25, 35);

    QPainterPath blade;
    blade.moveTo(0, 0);
    blade.cubicTo(3, -2.4, 6, -3.6, 9, -3.8);
    blade.cubicTo(20, -3.2, 30, -3.4, 38, -3.8);
    blade.lineTo(38, 3.8);
    blade.cubicTo(30, 3.4, 20, 3.2, 9, 3.8);
    blade.cubicTo(6, 3.6, 3, 2.4, 0, 0);
    QLinearGradient steel(0, -4, 0, 4);
    steel.setColorAt(0, QColor(245, 248, 252));
    steel.setColorAt(0.45, QColor(200, 208, 218));
    steel.setColorAt(0.55, QColor(150, 160, 175));
    steel.setColorAt(1, QColor(110, 120, 135));
    p.setPen(QPen(outline, 1.1, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin));
    p.setBrush(steel);
    p.drawPath(blade);
    p.setPen(roundPen(QColor(95, 105, 120), 0.8));
    p.drawLine(QPointF(5, 0), QPointF(36, 0));

    QLinearGradient gold(0, -8, 0, 8);
    gold.setColorAt(0, QColor(255, 225, 110));
    gold.setColorAt(1, QColor(175, 115, 15));
    p.setPen(QPen(outline, 1.1));
    p.setBrush(gold);
    p.drawRoundedRect(QRectF(37, -8.5, 4.5, 17), 2, 2);

    QLinearGradient leather(0, -3, 0, 3);
    leather.setColorAt(0, QColor(200, 70, 50));
    leather.setColorAt(1, QColor(120, 25, 20));
    p.setBrush(leather);
    p.drawRoundedRect(QRectF(41.5, -3.2, 13, 6.4), 1.5, 1.5);
    p.setPen(QPen(QColor(90, 20, 15), 0.9));
    for (const qreal x : {45.0, 48.0, 51.0})
        p.drawLine(QPointF(x, -2.6), QPointF(x, 2.6));

    p.setPen(QPen(outline, 1.1));
    p.setBrush(gold);
    p.drawEllipse(QPointF(58.5, 0), 4.6, 5.4);
    return image;
}

enum class Mouth { Smile, Straight, Laugh };

QImage face(int size, Mouth mouth)
{
    QImage image = blank(size, size);
    QPainter p(&image);
    startIcon(p, size);
    // Thicker lines at 16 pixels, or the features vanish.
    const bool small = size < 32;
    const qreal line = small ? 2.2 : 1.5;
    const QColor yellow(255, 255, 0);

    p.setPen(QPen(Qt::black, line));
    p.setBrush(yellow);
    p.drawEllipse(QPointF(16, 16), 15 - line / 2, 15 - line / 2);

    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    if (mouth == Mouth::Laugh) {
        // Eyes squeezed shut with laughter.
        p.setBrush(Qt::NoBrush);
        p.setPen(roundPen(Qt::black, small ? 2.6 : 1.8));
        for (const qreal x : {11.0, 21.0}) {
            QPainterPath eye;
            eye.moveTo(x - 3, 13);
            eye.quadTo(x, 7.5, x + 3, 13);
            p.drawPath(eye);
        }
    } else {
        const qreal rx = small ? 2.4 : 2.0, ry = small ? 3.4 : 3.0;
        p.drawEllipse(QPointF(11, 12), rx, ry);
        p.drawEllipse(QPointF(21, 12), rx, ry);
    }

    const qreal mouthLine = small ? 2.6 : 2.0;
    switch (mouth) {
    case Mouth::Smile: {
        QPainterPath smile;
        smile.moveTo(8.5, 19);
        smile.quadTo(16, 28.5, 23.5, 19);
        p.setBrush(Qt::NoBrush);
        p.setPen(roundPen(Qt::black, mouthLine));
        p.drawPath(smile);
        break;
    }
    case Mouth::Straight:
        // On whole pixels: a line between two rows would come out olive.
        p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(10, small ? 23 : 22), QPointF(22, small ? 23 : 22));
        break;
    case Mouth::Laugh: {
        QPainterPath open;
        open.moveTo(7.5, 17);
        open.lineTo(24.5, 17);
        open.cubicTo(24.5, 23.5, 20.5, 27.5, 16, 27.5);
        open.cubicTo(11.5, 27.5, 7.5, 23.5, 7.5, 17);
        open.closeSubpath();
        p.setPen(roundPen(Qt::black, small ? 2.0 : 1.4));
        p.setBrush(QColor(255, 0, 0));
        p.drawPath(open);
        break;
    }
    }
    return image;
}

QImage noEntry(int size)
{
    QImage image = blank(size, size);
    QPainter p(&image);
    startIcon(p, size);
    const qreal line = size < 32 ? 2.0 : 1.4;
    p.setPen(QPen(QColor(128, 0, 0), line));
    p.setBrush(QColor(255, 0, 0));
    p.drawEllipse(QPointF(16, 16), 15 - line / 2, 15 - line / 2);
    // Bar edges on whole pixels at both sizes, so it stays crisp.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(size < 32 ? QRectF(6, 12, 20, 8) : QRectF(6, 13, 20, 6));
    return image;
}

QImage stopwatchIcon(int size)
{
    QImage image = blank(size, size);
    QPainter p(&image);
    startIcon(p, size);
    const bool small = size < 32;
    const QPointF centre(16, 18);
    const qreal body = 13.3;
    const QColor silver(192, 192, 192);

    // Crown and the side button, behind the case.
    p.setPen(QPen(Qt::black, small ? 2.0 : 1.2));
    p.setBrush(silver);
    p.drawRect(QRectF(14, 2.5, 4, 4));
    p.drawRoundedRect(QRectF(11, 0.6, 10, small ? 4 : 3), 1, 1);
    p.save();
    p.translate(centre);
    p.rotate(45);
    p.drawRect(QRectF(-2, -body - 3, 4, 4));
    p.restore();

    p.drawEllipse(centre, body, body);
    p.setBrush(Qt::white);
    // At 16 pixels a rim line would eat the dial.
    p.setPen(small ? QPen(Qt::NoPen) : QPen(QColor(128, 128, 128), 1.0));
    const qreal dial = small ? 10.4 : 10.8;
    p.drawEllipse(centre, dial, dial);

    // Minute marks every five minutes. At 16 pixels only the quarters, on
    // whole pixels, or they blur into pink that 16 colours cannot show.
    if (small) {
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 0, 0));
        for (const QRectF &mark : {QRectF(14, 8, 4, 4), QRectF(22, 16, 4, 4), QRectF(14, 24, 4, 4),
                                   QRectF(6, 16, 4, 4)})
            p.drawRect(mark);
        p.setRenderHint(QPainter::Antialiasing, true);
    } else {
        p.setPen(QPen(QColor(255, 0, 0), 1.5, Qt::SolidLine, Qt::FlatCap));
        for (int i = 0; i < 12; ++i) {
            const double a = 2 * std::numbers::pi * i / 12;
            const qreal inner = i % 3 == 0 ? 6.6 : 7.8;
            const QPointF dir(std::sin(a), -std::cos(a));
            p.drawLine(centre + dir * inner, centre + dir * (dial - 0.6));
        }
    }

    p.setPen(roundPen(Qt::black, small ? 2.4 : 1.5));
    p.drawLine(centre, centre + QPointF(std::sin(0.75), -std::cos(0.75)) * (small ? 7.5 : 8.0));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(centre, small ? 1.8 : 1.5, small ? 1.8 : 1.5);
    return image;
}

// Shades a shape that is already filled, lighter at `light`.
void shade(QPainter &p, const QPainterPath &shape, QPointF light, qreal radius, int darkness)
{
    QRadialGradient g(light, radius);
    g.setColorAt(0, QColor(255, 255, 255, 60));
    g.setColorAt(0.45, QColor(255, 255, 255, 0));
    g.setColorAt(1, QColor(60, 55, 70, darkness));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(shape);
}

QImage portraitHead(int scale = 1)
{
    // Drawn four times larger and reduced, for smooth shading at 77x86.
    constexpr int W = 77, H = 86, K = 4;
    QImage big = blank(W * K * scale, H * K * scale);
    QPainter p(&big);
    p.setRenderHint(QPainter::Antialiasing);

    // The texture is made at full resolution, so undo the painter's scale.
    QBrush stone(whiteMarble(W * K, H * K, scale));
    stone.setTransform(QTransform::fromScale(1.0 / (K * scale), 1.0 / (K * scale)));
    p.scale(K * scale, K * scale);

    // A Pompeian red niche behind the head.
    QRadialGradient niche(QPointF(34, 30), 60);
    niche.setColorAt(0, QColor(150, 45, 35));
    niche.setColorAt(1, QColor(60, 15, 15));
    p.fillRect(QRectF(0, 0, W, H), niche);

    const QColor edge(120, 115, 125);
    const QColor groove(110, 104, 115);
    const QPointF light(30, 24);

    QPainterPath bust;
    bust.moveTo(-2, H + 2);
    bust.lineTo(-2, 80);
    bust.cubicTo(4, 71, 16, 66, 29, 64);
    bust.lineTo(48, 64);
    bust.cubicTo(61, 66, 73, 71, 79, 80);
    bust.lineTo(79, H + 2);
    bust.closeSubpath();
    p.setPen(QPen(edge, 0.6));
    p.setBrush(stone);
    p.drawPath(bust);
    shade(p, bust, QPointF(25, 66), 55, 140);
    // Folds of the toga over the left shoulder.
    p.setBrush(Qt::NoBrush);
    p.setPen(roundPen(QColor(140, 134, 145, 190), 0.9));
    for (int i = 0; i < 4; ++i) {
        QPainterPath fold;
        fold.moveTo(12 + i * 5, 70 + i * 0.8);
        fold.cubicTo(30 + i * 5, 74 + i * 2, 44 + i * 4, 80 + i, 54 + i * 5, H + 1);
        p.drawPath(fold);
    }

    QPainterPath neck;
    neck.moveTo(29, 46);
    neck.lineTo(48, 46);
    neck.cubicTo(47, 56, 48, 62, 51, 67);
    neck.cubicTo(43, 70, 34, 70, 26, 67);
    neck.cubicTo(29, 62, 30, 56, 29, 46);
    p.setPen(QPen(edge, 0.6));
    p.setBrush(stone);
    p.drawPath(neck);
    QLinearGradient underChin(0, 52, 0, 64);
    underChin.setColorAt(0, QColor(70, 65, 80, 150));
    underChin.setColorAt(1, QColor(70, 65, 80, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(underChin);
    p.drawPath(neck);

    for (const qreal x : {19.8, 57.2}) {
        QPainterPath ear;
        ear.addEllipse(QPointF(x, 37), 3.6, 6.5);
        p.setPen(QPen(edge, 0.6));
        p.setBrush(stone);
        p.drawPath(ear);
        shade(p, ear, light, 40, 120);
    }

    QPainterPath head;
    head.moveTo(38.5, 10);
    head.cubicTo(50, 10, 57, 19, 57, 32);
    head.cubicTo(57, 45, 49, 58, 38.5, 58);
    head.cubicTo(28, 58, 20, 45, 20, 32);
    head.cubicTo(20, 19, 27, 10, 38.5, 10);
    p.setPen(QPen(edge, 0.6));
    p.setBrush(stone);
    p.drawPath(head);
    shade(p, head, light, 34, 150);

    // Curls: a crown of little rounded locks above the forehead.
    const auto curl = [&](QPointF at, qreal r) {
        QPainterPath lock;
        lock.addEllipse(at, r, r);
        p.setPen(QPen(edge, 0.5));
        p.setBrush(stone);
        p.drawPath(lock);
        shade(p, lock, at + QPointF(-r * 0.5, -r * 0.5), r * 1.6, 130);
        p.setBrush(Qt::NoBrush);
        p.setPen(roundPen(groove, 0.6));
        p.drawArc(QRectF(at.x() - r * 0.55, at.y() - r * 0.55, r * 1.1, r * 1.1), 30 * 16, 250 * 16);
    };
    for (int i = 0; i <= 10; ++i) {
        const double a = std::numbers::pi * (1.02 + 0.96 * i / 10.0);
        curl(QPointF(38.5 + 18.3 * std::cos(a), 31 + 20.5 * std::sin(a)), 4.3);
    }
    for (int i = 0; i <= 6; ++i)
        curl(QPointF(27.5 + i * 3.7, 19.5 - 1.6 * std::sin(std::numbers::pi * i / 6.0)), 3.2);

    // Brows, blank eyes, nose and mouth, as a sculptor cuts them.
    p.setBrush(Qt::NoBrush);
    p.setPen(roundPen(groove, 0.9));
    QPainterPath brows;
    brows.moveTo(26.5, 27.5);
    brows.quadTo(31, 24.3, 36, 26.6);
    brows.moveTo(41, 26.6);
    brows.quadTo(46, 24.3, 50.5, 27.5);
    p.drawPath(brows);

    for (const qreal x : {31.3, 45.7}) {
        QRadialGradient socket(QPointF(x, 30.5), 5.5);
        socket.setColorAt(0, QColor(80, 75, 90, 70));
        socket.setColorAt(1, QColor(80, 75, 90, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(socket);
        p.drawEllipse(QPointF(x, 30.5), 5.5, 4);
        QPainterPath eye;
        eye.moveTo(x - 3.6, 31.6);
        eye.quadTo(x, 28.6, x + 3.6, 31.6);
        eye.quadTo(x, 33.8, x - 3.6, 31.6);
        p.setPen(QPen(QColor(95, 90, 100), 0.7));
        p.setBrush(QColor(225, 222, 226));
        p.drawPath(eye);
    }

    QPainterPath noseShadow;
    noseShadow.moveTo(39.5, 30);
    noseShadow.cubicTo(40.5, 35, 41.8, 39, 42.5, 42.5);
    noseShadow.quadTo(41, 43.6, 39.5, 43.2);
    noseShadow.cubicTo(40, 39, 39.6, 34, 38.8, 30);
    noseShadow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(80, 75, 90, 90));
    p.drawPath(noseShadow);
    p.setBrush(Qt::NoBrush);
    p.setPen(roundPen(groove, 0.8));
    QPainterPath nose;
    nose.moveTo(35.5, 42);
    nose.quadTo(36, 44, 38.5, 44.2);
    nose.quadTo(41, 44, 41.5, 42);
    p.drawPath(nose);

    QPainterPath lips;
    lips.moveTo(33.5, 49);
    lips.quadTo(36, 48.2, 38.5, 49.2);
    lips.quadTo(41, 48.2, 43.5, 49);
    p.setPen(roundPen(QColor(100, 92, 105), 0.9));
    p.drawPath(lips);
    QPainterPath lowerLip;
    lowerLip.moveTo(35.5, 51.6);
    lowerLip.quadTo(38.5, 52.8, 41.5, 51.6);
    p.setPen(roundPen(QColor(130, 124, 135, 170), 0.7));
    p.drawPath(lowerLip);
    p.end();

    return big.scaled(W * scale, H * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: drawpictures OUTDIR\n");
        return 2;
    }
    const QDir out(args.at(1));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "drawpictures: cannot create %s\n", qPrintable(args.at(1)));
        return 1;
    }
    const auto path = [&](const char *name) { return out.filePath(QString::fromLatin1(name)); };

    bool ok = true;
    ok = writeIco(path("tavola.ico"), {icon256Colours(emblem())}) && ok;
    ok = writeIco(path("puntatore.ico"), {icon256Colours(pointer())}) && ok;
    ok = writeIco(path("avanti.ico"), {icon16Colours(face(32, Mouth::Smile)),
                                       icon16Colours(face(16, Mouth::Smile))}) && ok;
    ok = writeIco(path("avanti-premuto.ico"), {icon16Colours(face(32, Mouth::Straight)),
                                               icon16Colours(face(16, Mouth::Straight))}) && ok;
    ok = writeIco(path("avanti-disattivo.ico"), {icon16Colours(face(32, Mouth::Laugh))}) && ok;
    ok = writeIco(path("uscita.ico"), {icon16Colours(noEntry(32)), icon16Colours(noEntry(16))}) && ok;
    ok = writeIco(path("cronometro.ico"), {icon16Colours(stopwatchIcon(32)),
                                           icon16Colours(stopwatchIcon(16))}) && ok;
    ok = writeJpeg(path("ritratto.jpg"), portraitHead(), false) && ok;
    ok = writeJpeg(path("marmo.jpg"), greyMarble(320, 200), true) && ok;

    // Twice the size, for screens of twice the density: drawn again rather
    // than enlarged, so edges stay sharp.
    ok = writePng(path("tavola@2x.png"), emblem(64)) && ok;
    ok = writePng(path("puntatore@2x.png"), pointer(2)) && ok;
    ok = writePng(path("avanti@2x.png"), face(64, Mouth::Smile)) && ok;
    ok = writePng(path("avanti-premuto@2x.png"), face(64, Mouth::Straight)) && ok;
    ok = writePng(path("avanti-disattivo@2x.png"), face(64, Mouth::Laugh)) && ok;
    ok = writePng(path("uscita@2x.png"), noEntry(64)) && ok;
    ok = writePng(path("cronometro@2x.png"), stopwatchIcon(64)) && ok;
    ok = writeJpeg(path("ritratto@2x.jpg"), portraitHead(2), false) && ok;
    ok = writeJpeg(path("marmo@2x.jpg"), greyMarble(320, 200, 2), true) && ok;

    // The program's icon for the desktop menus, at the usual theme sizes.
    for (const int size : {16, 32, 48, 64, 128, 256})
        ok = writePng(out.filePath(QStringLiteral("emblema-%1.png").arg(size)), emblem(size)) && ok;
    ok = writeFile(path("emblema.svg"), emblemSvg()) && ok;
    return ok ? 0 : 1;
}
