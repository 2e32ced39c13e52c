#include "GameFixture.h"
#include "SharedRecord.h"
#include "SystemLog.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// TEST_HELPER is valtrino-record built to write only into TEST_HELPER_DIR.
namespace {

const QString helperDir = QStringLiteral(TEST_HELPER_DIR);
// Unfinished pairs that killed helpers left, more than one store clears:
// it clears 4 at least, 16 at most.
constexpr int deadPairs = 100;
const QByteArray absent = "<absent>";
const QByteArray linked = "<linked>";
const QByteArray secret = "someone else's";

// A file as it stands, without following a link.
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
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// The pair that readers take: the highest "record.N" of the directory.
QString current(const QString &directory)
{
    int newest = -1;
    for (const QString &entry : QDir(directory).entryList({"record.*"}, QDir::AllEntries | QDir::System)) {
        bool number = false;
        const int n = entry.mid(7).toInt(&number);
        if (number && n > newest)
            newest = n;
    }
    return directory + (newest < 0 ? QStringLiteral("/none") : QStringLiteral("/record.%1").arg(newest));
}

QByteArray answerOf(const QByteArray &score, const QByteArray &name)
{
    return QByteArray::number(score.size()) + ' ' + QByteArray::number(name.size()) + '\n' + score + name;
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
    void sharedRecordHoldsWhateverHappensBetweenItsSteps_data();
    void sharedRecordHoldsWhateverHappensBetweenItsSteps();
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
    // Beside the record directory: /tmp may be another file system, where
    // the directory could not be moved.
    m_elsewhere = std::make_unique<QTemporaryDir>(helperDir + QStringLiteral("-elsewhere-XXXXXX"));
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

    QTest::newRow("read: both made empty") << QByteArray("read\n") << "" << absent << absent << 0 << QByteArray()
                                           << QByteArray();
    QTest::newRow("read: existing kept byte for byte")
        << QByteArray("read\n") << "" << QByteArray("12\r\nx\0\xFF", 7) << name << 0 << QByteArray("12\r\nx\0\xFF", 7)
        << name;
    // Made by the helper, the directory would be the player's.
    QTest::newRow("read: no directory, none made") << QByteArray("read\n") << "no directory" << absent << absent << 76
                                                   << absent << absent;
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
    QTest::newRow("record: dead pairs of 32 KiB names, a few cleared")
        << QByteArray("record\n9\nA") << "dead pairs" << score << name << 0 << QByteArray("9\r\n")
        << QByteArray("A\r\n");

    const QList<QPair<const char *, QByteArray>> refused = {
        {"empty request", ""},
        {"read without its line end", "read"},
        {"read and more", "read\nx"},
        {"the old creation step", "create\n"},
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
    QTest::newRow("name file a link: a new pair") << QByteArray("record\n9\nA") << "nom.txt" << score << name << 0
                                                  << QByteArray("9\r\n") << QByteArray("A\r\n");
    QTest::newRow("name file a link: read refuses it")
        << QByteArray("read\n") << "nom.txt" << score << name << 75 << score << linked;
    // Opened as a directory without following, a link is not one.
    QTest::newRow("directory a link: record") << QByteArray("record\n9\nA") << "directory" << score << name << 76
                                              << score << name;
    QTest::newRow("directory a link: read") << QByteArray("read\n") << "directory" << absent << absent << 76
                                            << absent << absent;
}

// Whatever it is given, the helper names only a higher record, or the
// empty pair at the first read, in its own directory; it follows no link,
// touches no file of someone else's, and says why it refused.
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
    // An administrator's copies beside the record, named like the game's files.
    const QStringList others{"nom.txt.2024ab", "punt.txt.backup"};
    for (const QString &other : others)
        put(helperDir + u'/' + other, secret);
    if (scoreBefore != absent) {
        put(helperDir + "/record.4/punt.txt", scoreBefore);
        put(helperDir + "/record.4/nom.txt", nameBefore);
    }
    QString files = helperDir; // where the record directory is now
    if (plant == u"no directory") {
        removeHelperDir();
    } else if (plant == u"directory") {
        files = m_elsewhere->filePath(QStringLiteral("moved"));
        QVERIFY(QDir().rename(helperDir, files));
        QVERIFY(QFile::link(files, helperDir));
    } else if (plant == u"dead pairs") {
        for (int n = 0; n < deadPairs; ++n) { // other accounts' slots
            const QString pair = helperDir + QStringLiteral("/staging/%1.%2").arg(60000 + n / 8).arg(n % 8);
            put(pair + "/punt.txt", "1\r\n");
            put(pair + "/nom.txt", QByteArray(32767, 'x') + "\r\n");
        }
    } else if (!plant.isEmpty()) {
        QFile::remove(helperDir + "/record.4/" + plant);
        QVERIFY(QFile::link(target, helperDir + "/record.4/" + plant));
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
    QCOMPARE(helper.readAllStandardOutput(),
             request == "read\n" && status == 0 ? answerOf(scoreAfter, nameAfter) : QByteArray());
    const QString pair = current(files);
    QCOMPARE(state(pair + "/punt.txt"), scoreAfter);
    QCOMPARE(state(pair + "/nom.txt"), nameAfter);
    QCOMPARE(state(target), secret);
    if (plant != u"no directory") {
        for (const QString &other : others)
            QCOMPARE(state(files + u'/' + other), secret);
    }
    // The current pair and nothing else of the helper's: no older pair, no
    // pair left unnamed; none of it open to other users.
    QStringList expected = plant == u"no directory" ? QStringList() : others;
    if (scoreAfter != absent)
        expected << QFileInfo(pair).fileName();
    QStringList left = QDir(files).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (left.removeOne(QStringLiteral("staging"))) {
        const qsizetype staged = QDir(files + "/staging").entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
        QVERIFY2(plant == u"dead pairs" ? staged <= deadPairs - 4 && staged >= deadPairs - 16 : staged == 0,
                 qPrintable(QString::number(staged)));
    }
    QCOMPARE(left, expected);
    if (scoreAfter != absent && !pair.endsWith(u"/record.4")) { // the helper's
        for (const QString &path : {pair, pair + "/punt.txt", pair + "/nom.txt"})
            QCOMPARE(QFileInfo(path).permissions() & (QFileDevice::ReadOther | QFileDevice::WriteOther
                                                      | QFileDevice::ExeOther),
                     QFileDevice::Permissions());
    }
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

void HelperTest::sharedRecordHoldsWhateverHappensBetweenItsSteps_data()
{
    QTest::addColumn<int>("score"); // -1: a read
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("scoreAfter");
    QTest::addColumn<QByteArray>("nameAfter");
    QTest::addColumn<int>("stagedAfter");

    // Listed record.4; record.5 replaced it, then a stopped helper named record.4 again with 32000.
    QTest::newRow("read: a stale pair named after the listing") << -1 << "stale" << 0 << QByteArray("12\r\n")
                                                                << QByteArray("Ann\r\n") << 0;
    QTest::newRow("record: a stale pair named after the listing") << 100 << "stale" << 0 << QByteArray("100\r\n")
                                                                  << QByteArray("A\r\n") << 0;
    // Between the unpack of an upgrade and its configure.
    QTest::newRow("read: an old release's flat files, no pair yet") << -1 << "flat" << 75 << absent << absent << 0;
    QTest::newRow("record: an old release's flat files, no pair yet") << 9 << "flat" << 75 << absent << absent << 0;
    QTest::newRow("record: all of the account's slots held") << 9 << "held" << 75 << QByteArray("7\r\n")
                                                             << QByteArray("Bea\r\n") << core::stagingSlots;
    QTest::newRow("record: the account's dead pairs cleared first") << 9 << "dead" << 0 << QByteArray("9\r\n")
                                                                    << QByteArray("A\r\n") << 0;
}

// In the helper's own process, the test acts between its steps.
void HelperTest::sharedRecordHoldsWhateverHappensBetweenItsSteps()
{
    QFETCH(int, score);
    QFETCH(QString, meanwhile);
    QFETCH(int, error);
    QFETCH(QByteArray, scoreAfter);
    QFETCH(QByteArray, nameAfter);
    QFETCH(int, stagedAfter);

    if (meanwhile == u"flat") {
        put(helperDir + "/punt.txt", "30\r\n");
    } else {
        put(helperDir + "/record.4/punt.txt", "7\r\n");
        put(helperDir + "/record.4/nom.txt", "Bea\r\n");
    }
    std::vector<int> held;
    for (int slot = 0; slot < core::stagingSlots && (meanwhile == u"held" || meanwhile == u"dead"); ++slot) {
        const QString pair = helperDir + QStringLiteral("/staging/%1.%2").arg(::getuid()).arg(slot);
        put(pair + "/punt.txt", "1\r\n");
        if (meanwhile == u"held") {
            held.push_back(::open(QFile::encodeName(pair).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            QCOMPARE(::flock(held.back(), LOCK_EX | LOCK_NB), 0);
        }
    }
    bool stale = meanwhile == u"stale";
    core::Hooks hooks;
    hooks.afterListing = [&] {
        if (!std::exchange(stale, false))
            return;
        put(helperDir + "/record.5/punt.txt", "12\r\n");
        put(helperDir + "/record.5/nom.txt", "Ann\r\n");
        QVERIFY(QDir(helperDir + "/record.4").removeRecursively());
        put(helperDir + "/record.4/punt.txt", "32000\r\n");
        put(helperDir + "/record.4/nom.txt", "Stale\r\n");
    };
    const core::Directory directory(QFile::encodeName(helperDir).toStdString());
    int failed = 0;
    core::Pair read;
    try {
        if (score < 0)
            read = core::readShared(directory, hooks);
        else
            QCOMPARE(core::storeShared(directory, std::to_string(score), "A", score, hooks), core::Outcome::Stored);
    } catch (const core::Failure &failure) {
        failed = failure.code();
    }
    for (const int fd : held)
        ::close(fd);
    if (meanwhile == u"stale") // as the stopped helper does once it sees record.5
        QVERIFY(QDir(helperDir + "/record.4").removeRecursively());

    QCOMPARE(failed, error);
    const QString pair = current(helperDir);
    if (score < 0 && !error)
        QCOMPARE(QByteArray::fromStdString(read.score + read.name), scoreAfter + nameAfter);
    QCOMPARE(state(pair + "/punt.txt"), scoreAfter);
    QCOMPARE(state(pair + "/nom.txt"), nameAfter);
    QCOMPARE(state(helperDir + "/punt.txt"), meanwhile == u"flat" ? QByteArray("30\r\n") : absent);
    QCOMPARE(QDir(helperDir + "/staging").entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), stagedAfter);
    // Members who run the helper without its group bit share the pair by it.
    struct stat made = {};
    QVERIFY(score < 0 || error
            || (::stat(QFile::encodeName(pair).constData(), &made) == 0 && (made.st_mode & 07777) == 02770));
}

void HelperTest::gameTakesEveryHelperAnswerAsTheHelperMeansIt_data()
{
    QTest::addColumn<QString>("answer"); // shell code of a stand-in helper, after reading the request's first line
    QTest::addColumn<bool>("atStart"); // answers the creation step; else the record write, after a done creation
    QTest::addColumn<QString>("directory"); // "shared" or "personal"
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("recordMessage");

    QTest::newRow("start: done") << "printf '3 4\\n7\\r\\nBea\\n'; exit 0" << true << "shared" << 0 << false;
    QTest::newRow("start: done without the pair") << "exit 0" << true << "" << 75 << false;
    QTest::newRow("start: done with a pair cut short") << "printf '3 4\\n7\\r\\n'; exit 0" << true << "" << 75
                                                       << false;
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
    const QString script
        = atStart ? QStringLiteral("#!/bin/sh\n%1\n").arg(answer)
                  : QStringLiteral("#!/bin/sh\nread kind\n[ \"$kind\" = read ] && printf '0 0\\n' && exit 0\n%1\n")
                        .arg(answer);
    put(standIn, script.toUtf8());
    QVERIFY(QFile::setPermissions(standIn, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    GameFixture game;
    const QString personal = game.directory.filePath(QStringLiteral("own"));
    game.location = records::Location{helperDir, personal, standIn};
    if (atStart) {
        QCOMPARE(runtimeErrorOf([&] { game.start(); }), error);
        if (error == 0) {
            QCOMPARE(game.tavola->state().windowsDir, (directory == u"shared" ? helperDir : personal) + u'/');
            // The helper's pair, as it read it; the player's own files, made empty.
            QCOMPARE(game.caption("lblpunti"), directory == u"shared" ? QStringLiteral("7\r\n") : QString());
            QCOMPARE(game.caption("lblnome"), directory == u"shared" ? QStringLiteral("Bea\n") : QString());
        }
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
    // The system log, as the helper was built to use it.
    SystemLog log(QFile::encodeName(QStringLiteral(TEST_HELPER_LOG)));
    QVERIFY(log.isBound());

    GameFixture game;
    game.location = records::Location{helperDir, game.directory.path(), QStringLiteral(TEST_HELPER)};
    game.start(QStringLiteral("Niccolò"));
    QCOMPARE(game.tavola->state().windowsDir, helperDir + u'/');
    QCOMPARE(state(current(helperDir) + "/punt.txt"), QByteArray());
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
    QCOMPARE(state(current(helperDir) + "/punt.txt"), diskFull ? QByteArray() : QByteArray("3\r\n"));
    QCOMPARE(state(current(helperDir) + "/nom.txt"), diskFull ? QByteArray() : QByteArray("Niccol\xF2\r\n"));
    QCOMPARE(QDir(helperDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{QFileInfo(current(helperDir)).fileName(), "staging"}));
    QCOMPARE(QDir(helperDir + "/staging").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

    // The teacher's trace: who claimed the record, and nothing for a failure.
    const QByteArray line = log.next(diskFull ? 100 : 2000);
    if (diskFull) {
        QCOMPARE(line, QByteArray());
    } else {
        const passwd *account = ::getpwuid(::getuid());
        QVERIFY(account);
        QVERIFY2(line.startsWith("<13>")
                     && line.endsWith(QByteArray("]: record 3 by ") + account->pw_name + " (uid "
                                      + QByteArray::number(::getuid()) + ")"),
                 line.constData());
    }
}

QTEST_MAIN(HelperTest)
#include "tst_helper.moc"
