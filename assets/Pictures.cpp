#include "Pictures.h"

namespace pictures {

QString windowIcon() { return QStringLiteral(":/pictures/tavola.ico"); }
QString windowPointer() { return QStringLiteral(":/pictures/puntatore.ico"); }
QPoint pointerHotSpot() { return QPoint(1, 1); }
QString nextNormal() { return QStringLiteral(":/pictures/avanti.ico"); }
QString nextPressed() { return QStringLiteral(":/pictures/avanti-premuto.ico"); }
QString nextDisabled() { return QStringLiteral(":/pictures/avanti-disattivo.ico"); }
QString exitButton() { return QStringLiteral(":/pictures/uscita.ico"); }
QString stopwatch() { return QStringLiteral(":/pictures/cronometro.ico"); }
QString portrait() { return QStringLiteral(":/pictures/ritratto.jpg"); }
QString marble() { return QStringLiteral(":/pictures/marmo.jpg"); }

// Icons become PNG at twice the size: ICO files stay the small originals.
QString doubleSize(const QString &path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (!path.startsWith(QLatin1String(":/pictures/")) || dot < 0)
        return QString();
    const QString suffix = path.mid(dot);
    return path.left(dot) + QLatin1String("@2x") + (suffix == QLatin1String(".ico") ? QStringLiteral(".png") : suffix);
}

} // namespace pictures
