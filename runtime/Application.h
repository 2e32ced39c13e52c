#pragma once

#include <QApplication>
#include <QByteArray>
#include <QProcessEnvironment>

#include <memory>

namespace runtime {

class RuntimeError;

// The top of event dispatch: a runtime error that leaves any handler is
// reported here and ends the process.
class Application : public QApplication
{
public:
    Application(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;

    // The game's own start: Qt on the platform that suits the desktop, and
    // one line in Italian, rather than Qt's abort, when there is no display.
    static std::unique_ptr<Application> start(int argc, char *argv[]);
};

// Whether the player (or a test) named Qt a platform, by QT_QPA_PLATFORM or
// -platform: that choice is theirs and always wins.
bool playerNamedPlatform(const QProcessEnvironment &environment, int argc, const char *const argv[]);

// The platforms to ask Qt for, or nothing for Qt's own choice.
QByteArray preferredPlatforms(const QProcessEnvironment &environment, int argc, const char *const argv[]);

// Shows the report and ends the process with a non-zero status.
[[noreturn]] void reportAndEnd(const RuntimeError &error);

// How the report reaches the player; tests swap in their own.
using ErrorReporter = void (*)(int code, const QString &report);
void setErrorReporter(ErrorReporter reporter);

} // namespace runtime
