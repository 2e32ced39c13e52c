#include "Application.h"

#include "RuntimeError.h"
#include "Services.h"

#include <QList>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace runtime {

namespace {

void showReport(int, const QString &report)
{
    QMessageBox box(QMessageBox::Critical, applicationTitle, report, QMessageBox::Ok);
    box.exec();
}

ErrorReporter currentReporter = showReport;

// Qt ends a program that finds no display to open with a fatal message in
// English and an abort. While the application starts, Qt's messages are
// held back: should the start fail, the player reads one line in Italian
// instead, and the game ends before it has touched any record.
struct HeldMessage
{
    QtMsgType type;
    QByteArray file, function, category;
    int line;
    QString text;
};
QList<HeldMessage> heldMessages;
QtMessageHandler qtMessageHandler = nullptr;
bool platformNamed = false;

void holdMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        heldMessages.append({type, context.file, context.function, context.category, context.line, text});
        return;
    }
    QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        display = qgetenv("WAYLAND_DISPLAY");
    const QByteArray reason = display.isEmpty() ? QByteArrayLiteral("nessuno schermo trovato")
                                                : "lo schermo " + display + " non risponde";
    std::fprintf(stderr, "Valtrino ha bisogno di un desktop grafico: %s.\n", reason.constData());
    // Whoever named Qt a platform gets Qt's own account too.
    if (platformNamed) {
        for (const HeldMessage &message : std::as_const(heldMessages))
            std::fprintf(stderr, "%s\n", message.text.toLocal8Bit().constData());
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
}

void releaseMessages()
{
    qInstallMessageHandler(qtMessageHandler);
    const auto orNull = [](const QByteArray &bytes) { return bytes.isNull() ? nullptr : bytes.constData(); };
    for (const HeldMessage &message : std::exchange(heldMessages, {})) {
        const QMessageLogContext context(orNull(message.file), message.line, orNull(message.function),
                                         orNull(message.category));
        qtMessageHandler(message.type, context, message.text);
    }
}

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

std::unique_ptr<Application> Application::start(int argc, char *argv[])
{
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    platformNamed = playerNamedPlatform(environment, argc, argv);
    qtMessageHandler = qInstallMessageHandler(holdMessage);
    // The choice goes in as an argument rather than into the environment,
    // which the programs this one starts would inherit. Qt keeps pointers
    // into the argument list as long as it runs.
    static QByteArray platforms = preferredPlatforms(environment, argc, argv);
    static char platformOption[] = "-platform";
    static std::vector<char *> arguments(argv, argv + argc);
    if (!platforms.isEmpty() && argc > 0)
        arguments.insert(arguments.begin() + 1, {platformOption, platforms.data()});
    arguments.push_back(nullptr);
    static int count = int(arguments.size()) - 1;
    auto application = std::make_unique<Application>(count, arguments.data());
    releaseMessages();
    setApplicationName(QStringLiteral("valtrino"));
    setDesktopFileName(QStringLiteral("org.example.Valtrino"));
    return application;
}

bool playerNamedPlatform(const QProcessEnvironment &environment, int argc, const char *const argv[])
{
    bool named = !environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty();
    for (int i = 1; i < argc; ++i)
        named = named || std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0;
    return named;
}

// A Wayland compositor never tells a program that its window was minimised,
// so the short caption could never appear; an X display beside it (XWayland)
// tells, and Qt would still pick Wayland there. Wayland stays the fallback
// for an X display that does not answer.
QByteArray preferredPlatforms(const QProcessEnvironment &environment, int argc, const char *const argv[])
{
    if (playerNamedPlatform(environment, argc, argv) || environment.value(QStringLiteral("DISPLAY")).isEmpty())
        return {};
    return QByteArrayLiteral("xcb;wayland");
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
