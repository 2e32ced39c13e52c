#include "Application.h"

#include "RuntimeError.h"
#include "Services.h"

#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

namespace runtime {

namespace {

void showReport(int, const QString &report)
{
    QMessageBox box(QMessageBox::Critical, applicationTitle, report, QMessageBox::Ok);
    box.exec();
}

ErrorReporter currentReporter = showReport;

} // namespace

Application::Application(int &argc, char **argv) : QApplication(argc, argv) {}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const RuntimeError &error) {
        reportAndEnd(error);
    }
}

void setErrorReporter(ErrorReporter reporter)
{
    currentReporter = reporter ? reporter : showReport;
}

void reportAndEnd(const RuntimeError &error)
{
    currentReporter(error.code(), errorReport(error.code()));
    std::fflush(nullptr);
    // The error's number is the exit status, so a script sees what failed.
    std::_Exit(error.code() > 0 && error.code() < 256 ? error.code() : EXIT_FAILURE);
}

} // namespace runtime
