#pragma once

#include <QApplication>

namespace runtime {

class RuntimeError;

// The top of event dispatch: a runtime error that leaves any handler is
// reported here and ends the process.
class Application : public QApplication
{
public:
    Application(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// Shows the report and ends the process with a non-zero status.
[[noreturn]] void reportAndEnd(const RuntimeError &error);

// How the report reaches the player; tests swap in their own.
using ErrorReporter = void (*)(int code, const QString &report);
void setErrorReporter(ErrorReporter reporter);

} // namespace runtime
