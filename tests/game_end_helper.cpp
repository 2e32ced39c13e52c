// Plays one game to its end inside the program's own event loop, so that
// the end is reached by a real press of cmdExit1 or by real ticks of
// Timer1, and a runtime error travels to the real report.
//
// Usage: game_end_helper DIRECTORY NAME RIGHT_ANSWERS button|clock [full-disk]
//
// Standard output, one line each: "msg:" and every message shown, "report:"
// and the report dialogue's title and text, "end:" and the clock text and
// the ticks counted when the game ended. The exit status is the program's:
// 0 after the game end, the error's number after a runtime error.
#include "Application.h"
#include "Controls.h"
#include "RuntimeError.h"
#include "ScriptedServices.h"
#include "Tavola.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

Tavola *game = nullptr;
int ticks = 0;

void print(const QString &line)
{
    QString escaped = line;
    escaped.replace(u'\n', QStringLiteral("\\n"));
    std::printf("%s\n", escaped.toUtf8().constData());
    std::fflush(stdout);
}

void printEnd()
{
    const auto *clock = game->findChild<CaptionLabel *>(QStringLiteral("lblconto"));
    print(QStringLiteral("end:%1|%2").arg(clock->caption()).arg(ticks));
}

class Services : public ScriptedServices
{
public:
    int ShowMessage(const QString &text, int code = OkOnly, const QString &title = {}) override
    {
        print(QStringLiteral("msg:") + text);
        return ScriptedServices::ShowMessage(text, code, title);
    }

    [[noreturn]] void EndProgram() override
    {
        printEnd();
        std::_Exit(EXIT_SUCCESS);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    runtime::Application application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 5)
        return 2;
    const QString directory = arguments.at(1);
    const int rightAnswers = arguments.at(3).toInt();
    const bool byClock = arguments.at(4) == u"clock";

    Services services;
    services.texts << arguments.at(2) << QStringLiteral("100");
    Tavola tavola(services, records::Location{directory, directory});
    game = &tavola;
    try {
        tavola.Show();
    } catch (const runtime::RuntimeError &error) {
        runtime::reportAndEnd(error);
    }
    for (int i = 0; i < rightAnswers; ++i) {
        tavola.findChild<QLineEdit *>(QStringLiteral("txtAnswer"))->setText(tavola.state().expectedAnswer);
        runtime::Int16 enter = 13;
        tavola.txtAnswer_KeyPress(enter);
        tavola.cmdNext_Click();
    }

    // The report is read and closed as a player would.
    QTimer reportReader;
    QObject::connect(&reportReader, &QTimer::timeout, [] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        print(QStringLiteral("report:") + box->windowTitle() + u'|' + box->text());
        printEnd();
        box->button(QMessageBox::Ok)->click();
    });
    reportReader.start(20);

    if (arguments.contains(QStringLiteral("full-disk"))) {
        // A file size limit of two bytes fails the record's write, as a full disk would.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit tiny;
        ::getrlimit(RLIMIT_FSIZE, &tiny);
        tiny.rlim_cur = 2;
        ::setrlimit(RLIMIT_FSIZE, &tiny);
    }

    auto *timer = tavola.findChild<QTimer *>(QStringLiteral("Timer1"));
    QObject::connect(timer, &QTimer::timeout, [] { ++ticks; });
    if (byClock) {
        // Every tick of the fifteen minutes runs, a thousand times faster.
        timer->setInterval(1);
    } else {
        auto *exit = tavola.findChild<QPushButton *>(QStringLiteral("cmdExit1"));
        const QPointF centre = exit->rect().center();
        const QPointF global = exit->mapToGlobal(centre);
        QCoreApplication::postEvent(exit, new QMouseEvent(QEvent::MouseButtonPress, centre, global, Qt::LeftButton,
                                                          Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(exit, new QMouseEvent(QEvent::MouseButtonRelease, centre, global,
                                                          Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    }
    QTimer::singleShot(60000, [] {
        print(QStringLiteral("no end"));
        std::_Exit(EXIT_FAILURE);
    });
    return application.exec();
}
