#include "GameFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Resident memory of this process, in KiB.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

qsizetype openHandles()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size();
}

// One game played to its end by the helper, in the program's own event loop.
struct Ending
{
    bool finished = false;
    int status = -1;
    QStringList messages;
    QString report; // the report dialogue's title and text; empty: none shown
    QString end;    // the clock text and the ticks counted at the end
    QByteArray score;
    QByteArray name;
};

Ending playToTheEnd(const QString &how, const QString &fault)
{
    GameFixture game;
    game.putRecord("punt.txt", "1\r\n");
    game.putRecord("nom.txt", "Bea\r\n");
    const QString directory = game.directory.path();
    QStringList arguments{directory, QStringLiteral("Dario"), QStringLiteral("3"), how};
    if (fault == u"full disk")
        arguments << QStringLiteral("full-disk");
    if (fault == u"read-only directory")
        QFile::setPermissions(directory, QFileDevice::ReadOwner | QFileDevice::ExeOwner);

    QProcess helper;
    // Beside this program: run as a player, both are copied elsewhere.
    helper.start(QCoreApplication::applicationDirPath() + QStringLiteral("/game_end_helper"), arguments);
    Ending ending;
    ending.finished = helper.waitForFinished(90000) && helper.exitStatus() == QProcess::NormalExit;
    ending.status = helper.exitCode();
    QFile::setPermissions(directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    for (const QString &line : QString::fromUtf8(helper.readAllStandardOutput()).split(u'\n')) {
        if (line.startsWith(u"msg:"))
            ending.messages << line.mid(4);
        else if (line.startsWith(u"report:"))
            ending.report = line.mid(7).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        else if (line.startsWith(u"end:"))
            ending.end = line.mid(4);
    }
    // The start-up's two messages come first, then the game end's.
    ending.messages = ending.messages.mid(2);
    ending.score = game.record("punt.txt");
    ending.name = game.record("nom.txt");
    return ending;
}

} // namespace

class ReliabilityTest : public QObject
{
    Q_OBJECT
private slots:
    void laterCopyWithALowerScoreDoesNotOverwriteABetterRecord();
    void lockLeftByACrashedCopyIsTakenOver();
    void oddRecordFilesAreShownWithinBounds_data();
    void oddRecordFilesAreShownWithinBounds();
    void recordFileThatIsNoFileEndsInTheReport_data();
    void recordFileThatIsNoFileEndsInTheReport();
    void fullDiskKeepsThePreviousRecordWhole();
    void readOnlyDirectoryKeepsThePreviousRecordWhole();
    void removedDirectoryEndsInTheReport();
    void timeUpEndsTheGameAsPressingExitDoes_data();
    void timeUpEndsTheGameAsPressingExitDoes();
    void timeUpWhileTheNewGameQuestionIsOpenWaitsForTheAnswer_data();
    void timeUpWhileTheNewGameQuestionIsOpenWaitsForTheAnswer();
    void closingTheWindowWhileADialogueIsOpenDoesNothing();
    void manyQuestionsAndNewGamesLeaveMemoryAndHandlesFlat();
};

// Two copies share the record directory: the one that ends later with a
// lower score must not replace the better record of the other.
void ReliabilityTest::laterCopyWithALowerScoreDoesNotOverwriteABetterRecord()
{
    GameFixture first;
    first.start(QStringLiteral("Primo"));
    ScriptedServices secondServices;
    secondServices.texts << QStringLiteral("Secondo") << QStringLiteral("100");
    Tavola second(secondServices, records::Location{first.directory.path(), first.directory.path()});
    second.Show();

    // The second copy sets 20...
    for (int i = 0; i < 20; ++i) {
        QString expected = second.state().expectedAnswer;
        second.findChild<QLineEdit *>(QStringLiteral("txtAnswer"))->setText(expected);
        runtime::Int16 enter = 13;
        second.txtAnswer_KeyPress(enter);
        second.cmdNext_Click();
    }
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, second.cmdExit1_Click());
    QCOMPARE(first.record("punt.txt"), QByteArray("20\r\n"));

    // ...then the first, which read an empty record at its start, ends with 10.
    first.scoreRight(10);
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, first.tavola->cmdExit1_Click());
    QCOMPARE(first.record("punt.txt"), QByteArray("20\r\n"));
    QCOMPARE(first.record("nom.txt"), QByteArray("Secondo\r\n"));
    QCOMPARE(first.services.messages().constLast(), QStringLiteral("Ciao a presto..."));
}

void ReliabilityTest::lockLeftByACrashedCopyIsTakenOver()
{
    GameFixture game;
    game.start();
    game.scoreRight(2);

    // Another copy takes the lock, holds it a moment, then dies without
    // releasing it.
    int ready[2];
    QCOMPARE(::pipe(ready), 0);
    const pid_t other = ::fork();
    if (other == 0) {
        records::RecordLock lock(game.tavola->state().windowsDir);
        (void)!::write(ready[1], "x", 1);
        ::usleep(300 * 1000);
        ::_exit(0);
    }
    char signal;
    QCOMPARE(::read(ready[0], &signal, 1), ssize_t(1));
    QElapsedTimer clock;
    clock.start();
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, game.tavola->cmdExit1_Click());
    QVERIFY2(clock.elapsed() >= 200, "did not wait for the other copy");
    QVERIFY2(clock.elapsed() < 5000, "waited on a dead copy's lock");
    ::waitpid(other, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    QCOMPARE(game.record("punt.txt"), QByteArray("2\r\n"));
    QCOMPARE(QDir(game.directory.path()).entryList(QDir::Files), (QStringList{"nom.txt", "punt.txt"}));
}

void ReliabilityTest::oddRecordFilesAreShownWithinBounds_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("size"); // for huge files: a sparse file of this size
    QTest::addColumn<int>("storedScore");
    QTest::newRow("huge file") << QByteArray() << qint64(100) * 1024 * 1024 << 0;
    QTest::newRow("NUL bytes") << QByteArray("7\0\0\0", 4) << qint64(-1) << 7;
    QTest::newRow("bytes that are no text") << QByteArray("\x81\x8d\xff\xfe" "5") << qint64(-1) << 0;
    QTest::newRow("very long line") << QByteArray(1024 * 1024, '9') << qint64(-1) << -2;
    QTest::newRow("negative") << QByteArray("-3\r\n") << qint64(-1) << -3;
    QTest::newRow("fraction") << QByteArray("2.5\r\n") << qint64(-1) << 2;
    QTest::newRow("exponent is not read") << QByteArray("1e9\r\n") << qint64(-1) << 1;
}

// Start-up shows what it can of any file, in bounded time and memory, and
// the game end still compares against it.
void ReliabilityTest::oddRecordFilesAreShownWithinBounds()
{
    QFETCH(QByteArray, content);
    QFETCH(qint64, size);
    QFETCH(int, storedScore);
    GameFixture game;
    if (size >= 0) {
        QFile file(game.recordPath("punt.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size));
    } else {
        game.putRecord("punt.txt", content);
    }
    game.putRecord("nom.txt", content.left(100));

    QElapsedTimer clock;
    clock.start();
    const long before = residentKiB();
    game.start();
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(game.caption("lblpunti").size() <= records::readLimit);
    QVERIFY(residentKiB() - before < 64 * 1024);

    // A score of 3 beats the stored one exactly when it is lower.
    game.scoreRight(3);
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, game.tavola->cmdExit1_Click());
    const bool recordSet = storedScore != -2 && storedScore < 3;
    QCOMPARE(game.record("punt.txt") == "3\r\n", recordSet);
}

void ReliabilityTest::recordFileThatIsNoFileEndsInTheReport_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("directory") << "directory";
    QTest::newRow("symbolic link") << "link";
    QTest::newRow("named pipe") << "fifo";
}

// Rather than hang on a pipe or follow a link, the start-up stops with the
// runtime error report.
void ReliabilityTest::recordFileThatIsNoFileEndsInTheReport()
{
    QFETCH(QString, kind);
    GameFixture game;
    const QByteArray path = QFile::encodeName(game.recordPath("nom.txt"));
    if (kind == u"directory")
        QVERIFY(QDir().mkdir(game.recordPath("nom.txt")));
    else if (kind == u"link")
        QVERIFY(QFile::link(QStringLiteral("/etc/hostname"), game.recordPath("nom.txt")));
    else
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(runtimeErrorOf([&] { game.start(); }), 75);
    QVERIFY(clock.elapsed() < 5000);
}

void ReliabilityTest::fullDiskKeepsThePreviousRecordWhole()
{
    GameFixture game;
    game.putRecord("punt.txt", "1\r\n");
    game.putRecord("nom.txt", "Bea\r\n");
    game.start(QStringLiteral("Annalisa"));
    game.scoreRight(123);

    // The new score fits and the new name does not: the disk fills up
    // between the two files.
    int error = 0;
    {
        const DiskFullAt full(5);
        QVERIFY(full.isSet());
        error = runtimeErrorOf([&] { game.tavola->cmdExit1_Click(); });
    }

    QCOMPARE(error, 61);
    QCOMPARE(game.record("punt.txt"), QByteArray("1\r\n"));
    QCOMPARE(game.record("nom.txt"), QByteArray("Bea\r\n"));
    QCOMPARE(QDir(game.directory.path()).entryList(QDir::Files), (QStringList{"nom.txt", "punt.txt"}));
}

void ReliabilityTest::readOnlyDirectoryKeepsThePreviousRecordWhole()
{
    if (::geteuid() == 0)
        QSKIP("root writes anywhere; the suite runs this again as an ordinary user");
    GameFixture game;
    game.putRecord("punt.txt", "1\r\n");
    game.start();
    game.scoreRight(2);
    QVERIFY(QFile::setPermissions(game.directory.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const int error = runtimeErrorOf([&] { game.tavola->cmdExit1_Click(); });
    QFile::setPermissions(game.directory.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QVERIFY2(error == 70 || error == 75, qPrintable(QString::number(error)));
    QCOMPARE(game.record("punt.txt"), QByteArray("1\r\n"));
}

void ReliabilityTest::removedDirectoryEndsInTheReport()
{
    GameFixture game;
    game.start();
    game.scoreRight(1);
    QVERIFY(QDir(game.directory.path()).removeRecursively());
    const int error = runtimeErrorOf([&] { game.tavola->cmdExit1_Click(); });
    QVERIFY2(error == 76 || error == 53, qPrintable(QString::number(error)));
}

void ReliabilityTest::timeUpEndsTheGameAsPressingExitDoes_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QByteArray>("score");
    QTest::addColumn<QByteArray>("name");
    const QString goodbye = QStringLiteral("Ciao a presto...");
    QTest::newRow("record beaten") << QString() << 0
                                   << QStringList{goodbye, QStringLiteral("Ok ho registrato il tuo record, C A M P I O N E\"")}
                                   << QByteArray("3\r\n") << QByteArray("Dario\r\n");
    QTest::newRow("full disk") << "full disk" << 61 << QStringList{goodbye} << QByteArray("1\r\n")
                               << QByteArray("Bea\r\n");
    QTest::newRow("read-only directory") << "read-only directory" << 70 << QStringList{goodbye}
                                         << QByteArray("1\r\n") << QByteArray("Bea\r\n");
}

// When the countdown runs out on a beaten record, real ticks of Timer1
// store it, or end in the report with the error's number, exactly as a
// real press of cmdExit1 does.
void ReliabilityTest::timeUpEndsTheGameAsPressingExitDoes()
{
    QFETCH(QString, fault);
    QFETCH(int, status);
    QFETCH(QStringList, messages);
    QFETCH(QByteArray, score);
    QFETCH(QByteArray, name);
    if (fault == u"read-only directory" && ::geteuid() == 0)
        QSKIP("root writes anywhere; the suite runs this again as an ordinary user");

    const Ending pressed = playToTheEnd(QStringLiteral("button"), fault);
    const Ending timeUp = playToTheEnd(QStringLiteral("clock"), fault);
    for (const Ending *ending : {&pressed, &timeUp}) {
        QVERIFY(ending->finished);
        QCOMPARE(ending->status, status);
        QCOMPARE(ending->messages, messages);
        QCOMPARE(ending->report, status == 0 ? QString() : runtime::applicationTitle + u'|' + runtime::errorReport(status));
        QCOMPARE(ending->score, score);
        QCOMPARE(ending->name, name);
    }
    QCOMPARE(pressed.end, QStringLiteral("00:15:00|0"));
    // The 900th tick shows 00:00:00; the next one ends the game.
    QCOMPARE(timeUp.end, QStringLiteral("00:00:00|900"));
}

void ReliabilityTest::timeUpWhileTheNewGameQuestionIsOpenWaitsForTheAnswer_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("yes: one new game") << int(runtime::Services::Yes);
    QTest::newRow("no: one game end") << int(runtime::Services::No);
}

void ReliabilityTest::timeUpWhileTheNewGameQuestionIsOpenWaitsForTheAnswer()
{
    QFETCH(int, answer);
    GameFixture game;
    Tavola &tavola = game.start();
    for (int tick = 0; tick < 900; ++tick)
        tavola.Timer1_Timer();
    QCOMPARE(game.caption("lblconto"), QStringLiteral("00:00:00"));

    game.services.whileShowing = [&](const QString &) {
        tavola.Timer1_Timer(); // time is up while the question is open
        tavola.Timer1_Timer();
    };
    game.services.answers << answer;
    game.services.texts << QStringLiteral("Anna") << QStringLiteral("100");
    tavola.Next_Click();
    game.services.whileShowing = nullptr;
    QVERIFY(!game.services.messages().contains(QStringLiteral("Ciao a presto...")));

    if (answer == runtime::Services::Yes) {
        QCOMPARE(game.caption("lblconto"), QStringLiteral("00:15:00"));
        tavola.Timer1_Timer();
        QCOMPARE(game.caption("lblconto"), QStringLiteral("00:14:59"));
    } else {
        QVERIFY_THROWS_EXCEPTION(ProgramEnded, tavola.Timer1_Timer());
        QCOMPARE(game.services.messages().count(QStringLiteral("Ciao a presto...")), 1);
    }
}

// The frame's close box does nothing while a dialogue is open: the game
// neither ends under it nor leaves it orphaned.
void ReliabilityTest::closingTheWindowWhileADialogueIsOpenDoesNothing()
{
    GameFixture game;
    Tavola &tavola = game.start();
    game.scoreRight(1);
    bool closed = true;
    game.services.whileShowing = [&](const QString &) { closed = tavola.close(); };
    game.services.answers << runtime::Services::No;
    tavola.Next_Click();
    QVERIFY(!closed);
    QVERIFY(tavola.isVisible());

    closed = true;
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, tavola.cmdExit1_Click());
    QVERIFY(!closed);
    QCOMPARE(game.record("punt.txt"), QByteArray("1\r\n"));
}

void ReliabilityTest::manyQuestionsAndNewGamesLeaveMemoryAndHandlesFlat()
{
    GameFixture game;
    Tavola &tavola = game.start();
    const auto newGame = [&] {
        game.services.answers << runtime::Services::Yes;
        game.services.texts << QStringLiteral("Anna") << QStringLiteral("100");
        tavola.Next_Click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    // Warm up caches (fonts, pixmaps) before measuring.
    for (int i = 0; i < 10; ++i) {
        newGame();
        tavola.cmdNext_Click();
    }
    const long memoryBefore = residentKiB();
    const qsizetype handlesBefore = openHandles();
    const qsizetype objectsBefore = tavola.findChildren<QObject *>().size();

    for (int i = 0; i < 1000; ++i) {
        game.answerRight();
        tavola.cmdNext_Click();
    }
    const long afterQuestions = residentKiB();
    for (int i = 0; i < 100; ++i)
        newGame();
    const long afterGames = residentKiB();

    qInfo("RSS %ld KiB at start, %ld after 1000 questions, %ld after 100 new games; handles %lld then %lld",
          memoryBefore, afterQuestions, afterGames, qlonglong(handlesBefore), qlonglong(openHandles()));
    QCOMPARE(openHandles(), handlesBefore);
    QCOMPARE(tavola.findChildren<QObject *>().size(), objectsBefore);
#if !defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer keeps freed memory in quarantine: only a plain build
    // shows what the player's machine would.
    QVERIFY2(afterQuestions - memoryBefore < 4 * 1024, "questions grow memory");
    QVERIFY2(afterGames - memoryBefore < 8 * 1024, "new games grow memory");
#endif
}

QTEST_MAIN(ReliabilityTest)
#include "tst_reliability.moc"
