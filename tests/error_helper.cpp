// Raises a runtime error from inside an event handler, with the report
// written to standard error instead of a dialogue.
#include "Application.h"
#include "Int16.h"

#include <QTimer>

#include <cstdio>

int main(int argc, char *argv[])
{
    runtime::Application application(argc, argv);
    runtime::setErrorReporter([](int, const QString &report) {
        std::fprintf(stderr, "%s\n", qPrintable(report));
    });
    QTimer::singleShot(0, [] {
        runtime::Int16 counter = 32767;
        counter += 1;
        std::fprintf(stderr, "after the error\n");
    });
    QTimer::singleShot(5000, &application, [] { std::fprintf(stderr, "no error\n"); });
    QTimer::singleShot(5000, &application, &QCoreApplication::quit);
    return application.exec();
}
