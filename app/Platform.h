#pragma once

#include <QByteArray>
#include <QProcessEnvironment>

#include <cstring>

namespace platform {

// Whether the player (or a test) named Qt a platform, by QT_QPA_PLATFORM or
// -platform: that choice is theirs and always wins.
inline bool named(const QProcessEnvironment &environment, int argc, const char *const argv[])
{
    bool named = !environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty();
    for (int i = 1; i < argc; ++i)
        named = named || std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0;
    return named;
}

// The platforms to ask Qt for, or nothing for Qt's own choice.
// A Wayland compositor never tells a program that its window was minimised,
// so the short caption could never appear; an X display beside it (XWayland)
// tells, and Qt would still pick Wayland there. Wayland stays the fallback
// for an X display that does not answer.
inline QByteArray choice(const QProcessEnvironment &environment, int argc, const char *const argv[])
{
    if (named(environment, argc, argv) || environment.value(QStringLiteral("DISPLAY")).isEmpty())
        return {};
    return QByteArrayLiteral("xcb;wayland");
}

} // namespace platform
