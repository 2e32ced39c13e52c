#pragma once

#include <QPoint>
#include <QString>

// Resource paths of the pictures that drawpictures makes during the build.
namespace pictures {

QString windowIcon();    // title bar and program icon, 32x32
QString windowPointer(); // mouse pointer over the window, 48x48
QPoint pointerHotSpot(); // the pointer's tip, in its 48x48 picture
QString nextNormal();    // "next question" button
QString nextPressed();
QString nextDisabled();
QString exitButton();
QString stopwatch();     // above the countdown clock
QString portrait();      // 77x86
QString marble();        // 320x200

// The same picture drawn at twice the size, for screens of twice the
// density; empty for a path that has none.
QString doubleSize(const QString &path);

} // namespace pictures
