#include "Application.h"
#include "Platform.h"
#include "QtServices.h"
#include "RecordFiles.h"
#include "RuntimeError.h"
#include "Tavola.h"

#include <QList>

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

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
bool platformNamed = false; // by QT_QPA_PLATFORM or -platform

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

void holdMessagesWhileStarting(bool named)
{
    platformNamed = named;
    qtMessageHandler = qInstallMessageHandler(holdMessage);
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

int main(int argc, char *argv[])
{
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    holdMessagesWhileStarting(platform::named(environment, argc, argv));
    // The choice goes in as an argument rather than into the environment,
    // which the programs this one starts would inherit. Qt keeps pointers
    // into the argument list as long as it runs.
    QByteArray platforms = platform::choice(environment, argc, argv);
    char platformOption[] = "-platform";
    std::vector<char *> arguments(argv, argv + argc);
    if (!platforms.isEmpty() && argc > 0)
        arguments.insert(arguments.begin() + 1, {platformOption, platforms.data()});
    arguments.push_back(nullptr);
    int count = int(arguments.size()) - 1;
    runtime::Application application(count, arguments.data());
    releaseMessages();
    application.setApplicationName(QStringLiteral("valtrino"));
    application.setDesktopFileName(QStringLiteral("org.example.Valtrino"));
    // The window ends the program itself when closed; a dialogue closing
    // while the window is hidden for a new game must not.
    application.setQuitOnLastWindowClosed(false);

    runtime::QtServices services;
    Tavola tavola(services, records::defaultLocation());
    services.setDialogParent(&tavola);
    try {
        tavola.Show();
    } catch (const runtime::RuntimeError &error) {
        runtime::reportAndEnd(error);
    }
    return application.exec();
}
