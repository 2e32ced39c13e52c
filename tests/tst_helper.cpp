#include "GameFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

// TEST_HELPER is valtrino-record built to write only into TEST_HELPER_DIR.
namespace {

const QString helperDir = QStringLiteral(TEST_HELPER_DIR);
const QByteArray absent = "<absent>";
const QByteArray linked = "<linked>";
const QByteArray secret = "someone else's";

// A record file as it stands, without following a link.
QByteArray state(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return linked;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : absent;
}

void put(const QString &path, const QByteArray &bytes)
{
    if (bytes == absent)
        return;
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

void removeHelperDir()
{
    if (QFileInfo(helperDir).isSymLink())
        QFile::remove(helperDir);
    else
        QDir(helperDir).removeRecursively();
}


} // namespace

class HelperTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanupTestCase();

    void helperAnswersEveryRequestByItsContract_data();
    void helperAnswersEveryRequestByItsContract();
    void helperKeepsNoInheritedDescriptor();
    void gameTakesEveryHelperAnswerAsTheHelperMeansIt_data();
    void gameTakesEveryHelperAnswerAsTheHelperMeansIt();
    void gameEndThroughTheRealHelperStoresOrReportsAsInProcess_data();
    void gameEndThroughTheRealHelperStoresOrReportsAsInProcess();

private:
    std::unique_ptr<QTemporaryDir> m_elsewhere;
};

void HelperTest::init()
{
    removeHelperDir();
    QVERIFY(QDir().mkpath(helperDir));
    m_elsewhere = std::make_unique<QTemporaryDir>();
    QVERIFY(m_elsewhere->isValid());
}

void HelperTest::cleanupTestCase()
{
    removeHelperDir();
}

void HelperTest::helperAnswersEveryRequestByItsContract_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("plant"); // what a hostile player put in place first
    QTest::addColumn<QByteArray>("scoreBefore");
    QTest::addColumn<QByteArray>("nameBefore");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("scoreAfter");
    QTest::addColumn<QByteArray>("nameAfter");

    const QByteArray score = "7\r\n", name = "Bea\r\n";
    QByteArray everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.append(char(b));
    const QByteArray longest(32767, '\xE8');

    QTest::newRow("create: both made empty") << QByteArray("create\n") << "" << absent << absent << 0
                                             << QByteArray() << QByteArray();
    QTest::newRow("create: existing kept byte for byte")
        << QByteArray("create\n") << "" << QByteArray("12\r\nx\0\xFF", 7) << name << 0
        << QByteArray("12\r\nx\0\xFF", 7) << name;
    QTest::newRow("create: directory made") << QByteArray("create\n") << "no directory" << absent << absent << 0
                                            << QByteArray() << QByteArray();
    QTest::newRow("record above: both replaced") << QByteArray("record\n13\nNiccol\xF2") << ""
                                                 << QByteArray("12\r\nmore\r\n") << name << 0
                                                 << QByteArray("13\r\n") << QByteArray("Niccol\xF2\r\n");
    QTest::newRow("record: every byte in the name") << "record\n8\n" + everyByte << "" << score << name << 0
                                                    << QByteArray("8\r\n") << everyByte + "\r\n";
    QTest::newRow("record: the longest name") << "record\n8\n" + longest << "" << score << name << 0
                                              << QByteArray("8\r\n") << longest + "\r\n";
    QTest::newRow("record: empty name") << QByteArray("record\n8\n") << "" << score << name << 0
                                        << QByteArray("8\r\n") << QByteArray("\r\n");
    QTest::newRow("record: no files yet") << QByteArray("record\n1\nA") << "" << absent << absent << 0
                                          << QByteArray("1\r\n") << QByteArray("A\r\n");
    QTest::newRow("record: stored text is 0") << QByteArray("record\n1\nA") << "" << QByteArray("abc") << name << 0
                                              << QByteArray("1\r\n") << QByteArray("A\r\n");
    QTest::newRow("record: tie writes nothing") << QByteArray("record\n7\nZed") << "" << score << name << 1 << score
                                                << name;
    QTest::newRow("record: lower writes nothing") << QByteArray("record\n0\nZed") << "" << score << name << 1
                                                  << score << name;

    const QList<QPair<const char *, QByteArray>> refused = {
        {"empty request", ""},
        {"create without its line end", "create"},
        {"create and more", "create\nx"},
        {"unknown request", "delete\n"},
        {"score without line end", "record\n9"},
        {"score with a leading zero", "record\n09\nA"},
        {"score with a sign", "record\n+9\nA"},
        {"negative score", "record\n-9\nA"},
        {"score above 32767", "record\n32768\nA"},
        {"score of many digits", "record\n99999999999999999999\nA"},
        {"score with a blank", "record\n 9\nA"},
        {"score with a carriage return", "record\n9\r\nA"},
        {"score with a decimal point", "record\n9.0\nA"},
        {"name longer than the game types", "record\n9\n" + QByteArray(32768, 'a')},
        {"huge request", "record\n9\n" + QByteArray(8 * 1024 * 1024, 'a')},
    };
    for (const auto &[tag, request] : refused)
        QTest::newRow(tag) << request << "" << score << name << 2 << score << name;

    QTest::newRow("score file a link: nothing written")
        << QByteArray("record\n9\nA") << "punt.txt" << score << name << 75 << linked << name;
    QTest::newRow("name file a link: replaced, not followed")
        << QByteArray("record\n9\nA") << "nom.txt" << score << name << 0 << QByteArray("9\r\n")
        << QByteArray("A\r\n");
    QTest::newRow("name file a link: create refuses it")
        << QByteArray("create\n") << "nom.txt" << score << name << 75 << score << linked;
    // Opened as a directory without following, a link is not one.
    QTest::newRow("directory a link: record") << QByteArray("record\n9\nA") << "directory" << score << name << 76
                                              << score << name;
    QTest::newRow("directory a link: create") << QByteArray("create\n") << "directory" << absent << absent << 76
                                              << absent << absent;
}

// Whatever it is given, the helper writes only a higher record or the
// missing empty files into its own directory, follows no link, and says
// why it refused.
void HelperTest::helperAnswersEveryRequestByItsContract()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, plant);
    QFETCH(QByteArray, scoreBefore);
    QFETCH(QByteArray, nameBefore);
    QFETCH(int, status);
    QFETCH(QByteArray, scoreAfter);
    QFETCH(QByteArray, nameAfter);

    const QString target = m_elsewhere->filePath(QStringLiteral("target"));
    put(target, secret);
    put(helperDir + "/punt.txt", scoreBefore);
    put(helperDir + "/nom.txt", nameBefore);
    QString files = helperDir; // where the record files are now
    if (plant == u"no directory") {
        removeHelperDir();
    } else if (plant == u"directory") {
        files = m_elsewhere->filePath(QStringLiteral("moved"));
        QVERIFY(QDir().rename(helperDir, files));
        QVERIFY(QFile::link(files, helperDir));
    } else if (!plant.isEmpty()) {
        QFile::remove(helperDir + u'/' + plant);
        QVERIFY(QFile::link(target, helperDir + u'/' + plant));
    }

    QProcess helper;
    helper.start(QStringLiteral(TEST_HELPER), {});
    QVERIFY(helper.waitForStarted());
    helper.write(request);
    helper.closeWriteChannel();
    QVERIFY(helper.waitForFinished(20000));
    const QByteArray said = helper.readAllStandardError();

    QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
    QCOMPARE(helper.exitCode(), status);
    // Silent when it did its work, a reason when it did not.
    QCOMPARE(said.isEmpty(), status <= 1);
    QCOMPARE(state(files + "/punt.txt"), scoreAfter);
    QCOMPARE(state(files + "/nom.txt"), nameAfter);
    QCOMPARE(state(target), secret);
    // Nothing else is left in the directory, no temporary file either; the
    // lock file, where a record request made it, is closed to other users.
    QStringList expected;
    for (const auto &[file, after] : {std::pair{"nom.txt", nameAfter}, std::pair{"punt.txt", scoreAfter}}) {
        if (after != absent)
            expected << QString::fromLatin1(file);
    }
    QStringList left = QDir(files).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (left.removeOne(QStringLiteral(".lock"))) {
        const QFileInfo lock(files + "/.lock");
        QVERIFY(lock.isFile() && !lock.isSymLink() && lock.size() == 0);
        QCOMPARE(lock.permissions() & (QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther),
                 QFileDevice::Permissions());
    }
    QCOMPARE(left, expected);
}

// A descriptor that a hostile player leaves open into the helper is closed
// before the request is even read.
void HelperTest::helperKeepsNoInheritedDescriptor()
{
    const QByteArray path = QFile::encodeName(m_elsewhere->filePath(QStringLiteral("open")));
    const int inherited = ::open(path.constData(), O_RDWR | O_CREAT, 0600);
    QVERIFY(inherited > 2);
    QProcess helper;
    helper.start(QStringLiteral(TEST_HELPER), {});
    ::close(inherited);
    QVERIFY(helper.waitForStarted());
    const QString fds = QStringLiteral("/proc/%1/fd").arg(helper.processId());
    // It waits for its request meanwhile.
    QTRY_COMPARE(QDir(fds).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 (QStringList{"0", "1", "2"}));
    helper.closeWriteChannel();
    QVERIFY(helper.waitForFinished(20000));
    QCOMPARE(helper.exitCode(), 2);
}

void HelperTest::gameTakesEveryHelperAnswerAsTheHelperMeansIt_data()
{
    QTest::addColumn<QString>("answer"); // shell code of a stand-in helper, after reading the request's first line
    QTest::addColumn<bool>("atStart"); // answers the creation step; else the record write, after a done creation
    QTest::addColumn<QString>("directory"); // "shared" or "personal"
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("recordMessage");

    QTest::newRow("start: done") << "exit 0" << true << "shared" << 0 << false;
    QTest::newRow("start: denied, the player's own") << "exit 70" << true << "personal" << 0 << false;
    QTest::newRow("start: disk full") << "exit 61" << true << "" << 61 << false;
    QTest::newRow("start: not-higher is no answer") << "exit 1" << true << "" << 75 << false;
    QTest::newRow("start: refused") << "exit 2" << true << "" << 75 << false;
    QTest::newRow("start: unknown status") << "exit 3" << true << "" << 75 << false;
    QTest::newRow("start: killed") << "kill -KILL $$" << true << "" << 75 << false;
    QTest::newRow("end: stored") << "exit 0" << false << "shared" << 0 << true;
    QTest::newRow("end: not higher") << "exit 1" << false << "shared" << 0 << false;
    QTest::newRow("end: path not found") << "exit 76" << false << "shared" << 76 << false;
    QTest::newRow("end: crashed") << "kill -SEGV $$" << false << "shared" << 75 << false;
}

// The game trusts only the helper's known statuses: a crash or an unknown
// status is a runtime error, never a success.
void HelperTest::gameTakesEveryHelperAnswerAsTheHelperMeansIt()
{
    QFETCH(QString, answer);
    QFETCH(bool, atStart);
    QFETCH(QString, directory);
    QFETCH(int, error);
    QFETCH(bool, recordMessage);

    const QString standIn = m_elsewhere->filePath(QStringLiteral("helper"));
    const QString script = atStart ? QStringLiteral("#!/bin/sh\n%1\n").arg(answer)
                                   : QStringLiteral("#!/bin/sh\nread kind\n[ \"$kind\" = create ] && exit 0\n%1\n")
                                         .arg(answer);
    put(standIn, script.toUtf8());
    QVERIFY(QFile::setPermissions(standIn, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    // What a real helper's creation step would have left.
    put(helperDir + "/punt.txt", QByteArray());
    put(helperDir + "/nom.txt", QByteArray());
    GameFixture game;
    const QString personal = game.directory.filePath(QStringLiteral("own"));
    game.location = records::Location{helperDir, personal, standIn};
    if (atStart) {
        QCOMPARE(runtimeErrorOf([&] { game.start(); }), error);
        if (error == 0)
            QCOMPARE(game.tavola->state().windowsDir, (directory == u"shared" ? helperDir : personal) + u'/');
        return;
    }
    game.start();
    QCOMPARE(game.tavola->state().windowsDir, helperDir + u'/');
    game.scoreRight(1);
    QCOMPARE(runtimeErrorOf([&] { game.tavola->cmdExit1_Click(); }), error ? error : -1);
    QCOMPARE(game.services.messages().contains(QStringLiteral("Ok ho registrato il tuo record, C A M P I O N E\"")),
             recordMessage);
}

void HelperTest::gameEndThroughTheRealHelperStoresOrReportsAsInProcess_data()
{
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("record stored") << false;
    QTest::newRow("disk full: error 61") << true;
}

void HelperTest::gameEndThroughTheRealHelperStoresOrReportsAsInProcess()
{
    QFETCH(bool, diskFull);
    GameFixture game;
    game.location = records::Location{helperDir, game.directory.path(), QStringLiteral(TEST_HELPER)};
    game.start(QStringLiteral("Niccolò"));
    QCOMPARE(game.tavola->state().windowsDir, helperDir + u'/');
    QCOMPARE(state(helperDir + "/punt.txt"), QByteArray());
    game.scoreRight(3);

    // A file size limit of two bytes, which the helper inherits, fails the
    // write half way, as a full disk would.
    std::optional<DiskFullAt> full;
    if (diskFull) {
        full.emplace(2);
        QVERIFY(full->isSet());
    }
    const int error = runtimeErrorOf([&] { game.tavola->cmdExit1_Click(); });
    full.reset();

    QCOMPARE(error, diskFull ? 61 : -1);
    QCOMPARE(state(helperDir + "/punt.txt"), diskFull ? QByteArray() : QByteArray("3\r\n"));
    QCOMPARE(state(helperDir + "/nom.txt"), diskFull ? QByteArray() : QByteArray("Niccol\xF2\r\n"));
    QCOMPARE(QDir(helperDir).entryList(QDir::Files | QDir::Hidden), (QStringList{".lock", "nom.txt", "punt.txt"}));
}

QTEST_MAIN(HelperTest)
#include "tst_helper.moc"
