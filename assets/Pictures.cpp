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

} // namespace pictures
