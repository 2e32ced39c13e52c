#include "GameFixture.h"

#include <QMenu>
#include <QTest>

namespace {

const QString greetingEnd = QStringLiteral(" vediamo se sei un vero campione  ");
const QString askLimit = QStringLiteral("msg: Inserisci il numero più grande che potrò utilizzare");
const QString limitQuestion = QStringLiteral("ask:Allora arriverò fino al numero?  ");
const QString complaint = QStringLiteral("msg:Ho detto inserisci un numero e non lettere");
const QString recordMessage = QStringLiteral("Ok ho registrato il tuo record, C A M P I O N E\"");
const QString pendingMessage = QStringLiteral(
    "Ok ho registrato il tuo record su questo PC, arriverà al server del laboratorio, C A M P I O N E");

} // namespace

class GameTest : public QObject
{
    Q_OBJECT
private slots:
    void startUpAsksUntilTheLimitIsAccepted_data();
    void startUpAsksUntilTheLimitIsAccepted();
    void startUpResetsTheGame();
    void firstRunCreatesEmptyRecordFiles();
    void storedRecordIsShownWithItsLineEnds();
    void gameEndStoresOnlyABetterScore_data();
    void gameEndStoresOnlyABetterScore();
    void gameEndSaysWhatTheRecordProgramAnswered_data();
    void gameEndSaysWhatTheRecordProgramAnswered();
    void recordFilesHoldExactlyTheScoreAndTheName_data();
    void recordFilesHoldExactlyTheScoreAndTheName();
    void unwritableRecordIsARuntimeErrorAndKeepsTheOldOne();
    void newGameAnsweredNoChangesNothing();
    void newGameAnsweredYesStartsAfreshWithoutSaving();
    void newGameFromTheMenuIsSafeForTheMenuItself();
    void minimisedWindowShowsTheShortCaptionUntilANewGame();
    void closingTheWindowSaysNothingAndWritesNothing();
};

void GameTest::startUpAsksUntilTheLimitIsAccepted_data()
{
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("dialogues");
    QTest::addColumn<QString>("maxNumber");

    const auto greeting = [](const QString &name) { return QStringLiteral("msg: ") + name + greetingEnd; };
    const QString askName = QStringLiteral("ask:Come ti chiami?");

    QTest::newRow("name and 50") << QStringList{"Anna", "50"}
                                 << QStringList{askName, greeting("Anna"), askLimit, limitQuestion} << "50";
    QTest::newRow("limit left empty")
        << QStringList{"Anna", ""}
        << QStringList{askName, greeting("Anna"), askLimit, limitQuestion, "msg:Allora scelgo io: fino a 100"}
        << "100";
    QTest::newRow("limit cancelled")
        << QStringList{"Anna", QString()}
        << QStringList{askName, greeting("Anna"), askLimit, limitQuestion, "msg:Allora scelgo io: fino a 100"}
        << "100";
    QTest::newRow("abc, then 0, then 7")
        << QStringList{"Anna", "abc", "0", "7"}
        << QStringList{askName, greeting("Anna"), askLimit, limitQuestion, complaint, askLimit, limitQuestion,
                       complaint, askLimit, limitQuestion}
        << "7";
    QTest::newRow("negative number") << QStringList{"Anna", "-5", "3"}
                                     << QStringList{askName, greeting("Anna"), askLimit, limitQuestion, complaint,
                                                    askLimit, limitQuestion}
                                     << "3";
    QTest::newRow("12abc kept as typed") << QStringList{"Anna", "12abc"}
                                         << QStringList{askName, greeting("Anna"), askLimit, limitQuestion}
                                         << "12abc";
    QTest::newRow("blank then 12 kept as typed") << QStringList{"Anna", " 12"}
                                                 << QStringList{askName, greeting("Anna"), askLimit, limitQuestion}
                                                 << " 12";
    QTest::newRow("0.5") << QStringList{"Anna", "0.5"}
                         << QStringList{askName, greeting("Anna"), askLimit, limitQuestion} << "0.5";
    QTest::newRow("blanks only are not empty")
        << QStringList{"Anna", "   ", "9"}
        << QStringList{askName, greeting("Anna"), askLimit, limitQuestion, complaint, askLimit, limitQuestion}
        << "9";
    QTest::newRow("name cancelled") << QStringList{QString(), "50"}
                                    << QStringList{askName, "msg:  " + greetingEnd.mid(1), askLimit, limitQuestion}
                                    << "50";
}

void GameTest::startUpAsksUntilTheLimitIsAccepted()
{
    QFETCH(QStringList, answers);
    QFETCH(QStringList, dialogues);
    QFETCH(QString, maxNumber);
    GameFixture game;
    game.services.texts.append(answers.mid(2));
    Tavola &tavola = game.start(answers.at(0), answers.at(1));
    QCOMPARE(game.services.shown, dialogues);
    QCOMPARE(tavola.state().maxNumber, maxNumber);
    QCOMPARE(game.caption("lblnome1"), answers.at(0).isNull() ? QString() : answers.at(0));
}

void GameTest::startUpResetsTheGame()
{
    GameFixture game;
    Tavola &tavola = game.start();
    QCOMPARE(qint16(tavola.state().rightAnswers), qint16(0));
    QCOMPARE(qint16(tavola.state().wrongAnswers), qint16(0));
    QCOMPARE(qint16(tavola.state().secondsLeft), qint16(900));
    QCOMPARE(qint16(tavola.state().clockMinutes), qint16(15));
    QCOMPARE(game.caption("lblconto"), QStringLiteral("00:15:00"));
    QVERIFY(game.control<QTimer>("Timer1")->isActive());
    QCOMPARE(tavola.state().windowsDir, game.directory.path() + u'/');
}

void GameTest::firstRunCreatesEmptyRecordFiles()
{
    GameFixture game;
    game.start();
    QCOMPARE(game.record("punt.txt"), QByteArray());
    QCOMPARE(game.record("nom.txt"), QByteArray());
    QCOMPARE(game.caption("lblpunti"), QString());
    QCOMPARE(game.caption("lblnome"), QString());
}

void GameTest::storedRecordIsShownWithItsLineEnds()
{
    GameFixture game;
    game.putRecord("punt.txt", "12\r\n");
    game.putRecord("nom.txt", "Niccol\xF2\r\n");
    game.start();
    QCOMPARE(game.caption("lblpunti"), QStringLiteral("12\r\n"));
    QCOMPARE(game.caption("lblnome"), QStringLiteral("Niccolò\r\n"));
    // Shown as a line break, so the label is two lines tall.
    QCOMPARE(game.control<QLabel>("lblpunti")->text(), QStringLiteral("12\n"));
    QCOMPARE(game.record("punt.txt"), QByteArray("12\r\n"));
}

void GameTest::gameEndStoresOnlyABetterScore_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("rightAnswers");
    QTest::addColumn<bool>("recordSet");
    QTest::newRow("0 against an empty file") << QByteArray() << 0 << false;
    QTest::newRow("1 against an empty file") << QByteArray() << 1 << true;
    QTest::newRow("tie") << QByteArray("3\r\n") << 3 << false;
    QTest::newRow("not a number counts as 0") << QByteArray("abc\r\n") << 1 << true;
    QTest::newRow("7 against 8") << QByteArray("7\r\n") << 8 << true;
    QTest::newRow("7 against 7") << QByteArray("7\r\n") << 7 << false;
    QTest::newRow("lower than stored") << QByteArray("50\r\n") << 2 << false;
}

void GameTest::gameEndStoresOnlyABetterScore()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, rightAnswers);
    QFETCH(bool, recordSet);
    GameFixture game;
    game.putRecord("punt.txt", stored);
    game.putRecord("nom.txt", "Bea\r\n");
    Tavola &tavola = game.start(QStringLiteral("Carlo"));
    game.scoreRight(rightAnswers);
    game.answer(QStringLiteral("0")); // a wrong answer changes nothing

    const qsizetype before = game.services.shown.size();
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, tavola.cmdExit1_Click());
    const QStringList atEnd = game.services.shown.mid(before);
    if (recordSet) {
        QCOMPARE(atEnd, (QStringList{"msg:Ciao a presto...", "msg:" + recordMessage}));
        QCOMPARE(game.record("punt.txt"), QByteArray::number(rightAnswers) + "\r\n");
        QCOMPARE(game.record("nom.txt"), QByteArray("Carlo\r\n"));
        QCOMPARE(tavola.state().recordLine, QStringLiteral("Carlo"));
    } else {
        QCOMPARE(atEnd, QStringList{"msg:Ciao a presto..."});
        QCOMPARE(game.record("punt.txt"), stored);
        QCOMPARE(game.record("nom.txt"), QByteArray("Bea\r\n"));
    }
}

void GameTest::gameEndSaysWhatTheRecordProgramAnswered_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("atEnd");
    QTest::newRow("stored") << 0 << QStringList{"msg:Ciao a presto...", "msg:" + recordMessage};
    QTest::newRow("not higher") << 1 << QStringList{"msg:Ciao a presto..."};
    QTest::newRow("lab mode, server out of reach") << 3
                                                   << QStringList{"msg:Ciao a presto...", "msg:" + pendingMessage};
}

// A stand-in for the record program, which reads an empty record at the
// start-up and answers the record with status.
void GameTest::gameEndSaysWhatTheRecordProgramAnswered()
{
    QFETCH(int, status);
    QFETCH(QStringList, atEnd);
    GameFixture game;
    const QString standIn = game.directory.filePath(QStringLiteral("helper"));
    QFile script(standIn);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nread kind\n[ \"$kind\" = read ] && printf '0 0\\n' && exit 0\nexit "
                 + QByteArray::number(status) + '\n');
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    game.location = records::Location{game.directory.path(), game.directory.filePath(QStringLiteral("own")), standIn};

    Tavola &tavola = game.start();
    game.scoreRight(1);
    const qsizetype before = game.services.shown.size();
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, tavola.cmdExit1_Click());
    QCOMPARE(game.services.shown.mid(before), atEnd);
}

void GameTest::recordFilesHoldExactlyTheScoreAndTheName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("nameBytes");
    QTest::newRow("plain") << "Anna" << QByteArray("Anna\r\n");
    QTest::newRow("empty name") << "" << QByteArray("\r\n");
    QTest::newRow("accented letter in one byte") << "Niccolò" << QByteArray("Niccol\xF2\r\n");
    QTest::newRow("blanks kept") << " Anna Maria " << QByteArray(" Anna Maria \r\n");
}

void GameTest::recordFilesHoldExactlyTheScoreAndTheName()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, nameBytes);
    GameFixture game;
    game.putRecord("punt.txt", "12\r\nold line\r\n");
    game.putRecord("nom.txt", "Old holder\r\nmore\r\n");
    Tavola &tavola = game.start(name);
    game.scoreRight(13);
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, tavola.cmdExit1_Click());
    QCOMPARE(game.record("punt.txt"), QByteArray("13\r\n"));
    QCOMPARE(game.record("nom.txt"), nameBytes);
}

// A record that cannot be written is the runtime error, and what was
// stored before stays whole.
void GameTest::unwritableRecordIsARuntimeErrorAndKeepsTheOldOne()
{
    GameFixture game;
    game.putRecord("punt.txt", "1\r\n");
    game.putRecord("nom.txt", "Bea\r\n");
    Tavola &tavola = game.start();
    game.answerRight();
    game.answerRight();
    // The name file's place is taken by a directory: it cannot be replaced.
    QVERIFY(QFile::remove(game.recordPath("nom.txt")));
    QVERIFY(QDir(game.directory.path()).mkpath(QStringLiteral("nom.txt/x")));
    try {
        tavola.cmdExit1_Click();
        QFAIL("no error");
    } catch (const runtime::RuntimeError &error) {
        QCOMPARE(error.code(), 75);
    }
    QVERIFY(!game.services.messages().contains(recordMessage));
    QCOMPARE(game.record("punt.txt"), QByteArray("2\r\n"));
}

void GameTest::newGameAnsweredNoChangesNothing()
{
    GameFixture game;
    game.services.randoms << 0.27f;
    Tavola &tavola = game.start();
    game.answerRight();
    tavola.Timer1_Timer();
    game.services.answers << runtime::Services::No << runtime::Services::No;
    for (int i = 0; i < 2; ++i) {
        tavola.Next_Click();
        QCOMPARE(game.services.shown.constLast(), QStringLiteral("yesno:INIZIARE NUOVA GARA|INIZIAMO UNA NUOVA GARA  ?"));
    }
    QCOMPARE(game.caption("lblScore"), QStringLiteral("1"));
    QCOMPARE(game.caption("lblconto"), QStringLiteral("00:14:59"));
    QCOMPARE(tavola.state().expectedAnswer, QStringLiteral("27"));
    QVERIFY(game.control("cmdNext")->isEnabled());
}

void GameTest::newGameAnsweredYesStartsAfreshWithoutSaving()
{
    GameFixture game;
    game.putRecord("punt.txt", "1\r\n");
    game.putRecord("nom.txt", "Bea\r\n");
    Tavola &tavola = game.start(QStringLiteral("Anna"), QStringLiteral("50"));
    game.scoreRight(5);
    tavola.Timer1_Timer();
    tavola.setWindowTitle(QStringLiteral("Valtrino"));

    game.services.answers << runtime::Services::Yes;
    game.services.texts << QString() << QString();
    const qsizetype before = game.services.shown.size();
    tavola.Next_Click();

    QCOMPARE(game.services.shown.mid(before, 3),
             (QStringList{"yesno:INIZIARE NUOVA GARA|INIZIAMO UNA NUOVA GARA  ?", "ask:Come ti chiami?",
                          "msg:  " + greetingEnd.mid(1)}));
    QCOMPARE(game.record("punt.txt"), QByteArray("1\r\n"));
    QCOMPARE(game.record("nom.txt"), QByteArray("Bea\r\n"));
    QCOMPARE(game.caption("lblpunti"), QStringLiteral("1\r\n"));
    QCOMPARE(game.caption("lblnome"), QStringLiteral("Bea\r\n"));
    QCOMPARE(game.caption("lblnome1"), QString());
    QCOMPARE(game.caption("lblScore"), QStringLiteral("0"));
    QCOMPARE(game.caption("lblconto"), QStringLiteral("00:15:00"));
    QCOMPARE(qint16(tavola.state().rightAnswers), qint16(0));
    QCOMPARE(tavola.state().maxNumber, QStringLiteral("100"));
    QCOMPARE(tavola.windowTitle(), QStringLiteral("Valtrino Settembre 2022"));
    QVERIFY(tavola.isVisible());
    QVERIFY(!game.control("cmdNext")->isEnabled());
}

// The reload destroys the menu whose item is still running its handler.
void GameTest::newGameFromTheMenuIsSafeForTheMenuItself()
{
    GameFixture game;
    Tavola &tavola = game.start();
    for (int round = 0; round < 3; ++round) {
        QAction *next = game.control<QAction>("Next");
        QVERIFY(next);
        game.services.answers << runtime::Services::Yes;
        game.services.texts << QStringLiteral("Anna") << QStringLiteral("20");
        next->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::qWait(1);
    }
    QCOMPARE(tavola.findChildren<QAction *>(QStringLiteral("Next")).size(), 1);
    QCOMPARE(tavola.findChildren<QTimer *>(QStringLiteral("Timer1")).size(), 1);
    QCOMPARE(tavola.state().maxNumber, QStringLiteral("20"));
}

void GameTest::minimisedWindowShowsTheShortCaptionUntilANewGame()
{
    GameFixture game;
    Tavola &tavola = game.start();
    QCOMPARE(tavola.windowTitle(), QStringLiteral("Valtrino Settembre 2022"));
    tavola.resize(800, 600);
    QCOMPARE(tavola.windowTitle(), QStringLiteral("Valtrino Settembre 2022"));
    tavola.setWindowState(Qt::WindowMaximized);
    QCOMPARE(tavola.windowTitle(), QStringLiteral("Valtrino Settembre 2022"));
    tavola.setWindowState(Qt::WindowMinimized);
    QCOMPARE(tavola.windowTitle(), QStringLiteral("Valtrino"));
    tavola.setWindowState(Qt::WindowNoState);
    QCOMPARE(tavola.windowTitle(), QStringLiteral("Valtrino"));

    game.services.answers << runtime::Services::Yes;
    game.services.texts << QStringLiteral("Anna") << QStringLiteral("20");
    tavola.Next_Click();
    QCOMPARE(tavola.windowTitle(), QStringLiteral("Valtrino Settembre 2022"));
}

void GameTest::closingTheWindowSaysNothingAndWritesNothing()
{
    GameFixture game;
    game.putRecord("punt.txt", "1\r\n");
    Tavola &tavola = game.start();
    for (int i = 0; i < 4; ++i)
        game.answerRight();
    const QStringList before = game.services.shown;
    QVERIFY(tavola.close());
    QCOMPARE(game.services.shown, before);
    QCOMPARE(game.record("punt.txt"), QByteArray("1\r\n"));
}

QTEST_MAIN(GameTest)
#include "tst_game.moc"
