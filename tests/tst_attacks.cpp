// What two pupils can do to the shared record through the set-group-id
// helper as installed: pupil1 attacks, pupil2 must still play and set a
// better record. Run as root, which plays both pupils; the helper, its
// directory and the log socket come from the environment:
//   ATTACK_HELPER  the helper, set-group-id to a group neither pupil is in
//   ATTACK_DIR     its record directory
//   ATTACK_LOG     a datagram socket path to listen on for its log, if free
//   ATTACK_PUPILS  "pupil1:pupil2", two ordinary accounts

#include "SystemLog.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>

namespace {

struct Pupil
{
    QByteArray name;
    uid_t uid = 0;
    gid_t gid = 0;
};

Pupil pupil(int which)
{
    const QList<QByteArray> names = qgetenv("ATTACK_PUPILS").split(':');
    Pupil p;
    p.name = names.value(which);
    if (const passwd *account = ::getpwnam(p.name.constData())) {
        p.uid = account->pw_uid;
        p.gid = account->pw_gid;
    }
    return p;
}

const QByteArray helper = qgetenv("ATTACK_HELPER");
const QString directory = QString::fromLocal8Bit(qgetenv("ATTACK_DIR"));
// An administrator's copies beside the record, named like the game's files.
const QStringList rootsFiles{"nom.txt.2024ab", "punt.txt.backup"};

// A child that becomes the pupil and runs body, which does not return.
template<typename Body>
pid_t asPupil(const Pupil &p, Body body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(p.gid) != 0 || ::setuid(p.uid) != 0)
            ::_exit(120);
        body();
    }
    return child;
}

int finish(pid_t child)
{
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The helper started as the pupil, with the request on its input; its
// output, if wanted, comes through *output.
pid_t start(const Pupil &p, const QByteArray &request, int *output = nullptr)
{
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        return -1;
    (void)!::write(in[1], request.constData(), size_t(request.size()));
    ::close(in[1]);
    const pid_t child = asPupil(p, [&] {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close_range(3, ~0U, 0);
        char *const arguments[] = {const_cast<char *>(helper.constData()), nullptr};
        char *const environment[] = {nullptr};
        ::execve(helper.constData(), arguments, environment);
        ::_exit(127);
    });
    ::close(in[0]);
    ::close(out[1]);
    if (output)
        *output = out[0];
    else
        ::close(out[0]);
    return child;
}

// A record of the pupil's, named "pupilN<score>" so that a torn pair shows.
int store(const Pupil &p, int score)
{
    const QByteArray value = QByteArray::number(score);
    return finish(start(p, "record\n" + value + "\n" + p.name + value));
}

// The score that the pupil's start-up reads, when its pair is whole; -1
// for a torn pair, -2 when the read failed.
int recordRead(const Pupil &p)
{
    int output = -1;
    const pid_t child = start(p, "read\n", &output);
    QByteArray answer;
    char buffer[4096];
    for (ssize_t n; (n = ::read(output, buffer, sizeof buffer)) > 0;)
        answer.append(buffer, n);
    ::close(output);
    if (finish(child) != 0)
        return -2;
    if (answer == "0 0\n")
        return 0;
    const qsizetype end = answer.indexOf('\n');
    const int scoreSize = answer.left(end).split(' ').value(0).toInt();
    const QByteArray score = answer.mid(end + 1, scoreSize), name = answer.mid(end + 1 + scoreSize);
    bool number = false;
    const int value = score.chopped(2).toInt(&number);
    return number && name.endsWith(QByteArray::number(value) + "\r\n") ? value : -1;
}

} // namespace

class AttacksTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pupilReachesNoFileOfTheRecord_data();
    void pupilReachesNoFileOfTheRecord();
    void stoppedWriterDelaysNobody();
    void killedWritersTearNothing();
    void leftoversStayWithinTheAccountsSlots();
    void logNamesTheAccount_data();
    void logNamesTheAccount();

private:
    // How long one whole record write takes here, so that stops and kills
    // fall all over it, whatever the disk.
    std::chrono::microseconds writeTime();

    Pupil m_attacker, m_player;
};

std::chrono::microseconds AttacksTest::writeTime()
{
    using Clock = std::chrono::steady_clock;
    const auto begun = Clock::now();
    for (int score = 1; score <= 5; ++score)
        store(m_attacker, score);
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begun) / 5;
}

void AttacksTest::initTestCase()
{
    if (::geteuid() != 0 || helper.isEmpty() || directory.isEmpty())
        QSKIP("needs root, ATTACK_HELPER and ATTACK_DIR");
    m_attacker = pupil(0);
    m_player = pupil(1);
    QVERIFY2(m_attacker.uid != 0 && m_player.uid != 0, "ATTACK_PUPILS: two ordinary accounts");
}

void AttacksTest::init()
{
    // Start afresh as a teacher would, keeping the directory itself.
    for (const QString &entry : QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString path = directory + u'/' + entry;
        QVERIFY(QFileInfo(path).isDir() ? QDir(path).removeRecursively() : QFile::remove(path));
    }
    for (const QString &file : rootsFiles) {
        QFile own(directory + u'/' + file);
        QVERIFY(own.open(QIODevice::WriteOnly));
        own.write("root's");
    }
}

void AttacksTest::cleanup()
{
    for (const QString &file : rootsFiles) {
        QFile own(directory + u'/' + file);
        QVERIFY(own.open(QIODevice::ReadOnly));
        QCOMPARE(own.readAll(), QByteArray("root's"));
    }
}

void AttacksTest::pupilReachesNoFileOfTheRecord_data()
{
    QTest::addColumn<int>("attack");
    QTest::newRow("write 99999 into it") << 0;
    QTest::newRow("truncate it") << 1;
    QTest::newRow("chmod 000") << 2;
    QTest::newRow("link it where they can write") << 3;
    QTest::newRow("open it to lock it") << 4;
    QTest::newRow("make a file beside it") << 5;
}

// After a record of their own, a pupil reaches nothing of it by any path,
// and the next pupil's start-up reads it.
void AttacksTest::pupilReachesNoFileOfTheRecord()
{
    QFETCH(int, attack);
    QCOMPARE(store(m_attacker, 12), 0);
    QStringList paths{directory};
    for (QDirIterator it(directory, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        paths << it.next();
    QVERIFY(paths.size() >= 4); // the directory, a pair and its two files
    const QByteArray link = QFile::encodeName(QDir::tempPath() + "/valtrino-attack-link");
    for (const QString &path : paths) {
        const QByteArray native = QFile::encodeName(path);
        ::unlink(link.constData());
        const int status = finish(asPupil(m_attacker, [&] {
            const char *file = native.constData();
            bool done = false;
            if (attack == 0) {
                const int fd = ::open(file, O_WRONLY | O_TRUNC);
                done = fd >= 0 && ::write(fd, "99999\r\n", 7) == 7;
            } else if (attack == 1) {
                done = ::truncate(file, 0) == 0;
            } else if (attack == 2) {
                done = ::chmod(file, 0) == 0;
            } else if (attack == 3) {
                done = ::link(file, link.constData()) == 0;
            } else if (attack == 4) {
                const int fd = ::open(file, O_RDONLY);
                done = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            } else {
                done = ::open((native + "/punt.txt.x").constData(), O_WRONLY | O_CREAT | O_EXCL, 0666) >= 0;
            }
            ::_exit(done ? 0 : 1);
        }));
        ::unlink(link.constData());
        QVERIFY2(status == 1, qPrintable(path));
    }
    QCOMPARE(recordRead(m_player), 12);
}

// pupil1 stops their own writer at many instants and leaves it stopped:
// pupil2's better records are stored at once every time. Once it goes on,
// the writer cannot bring a lower record back, and a writer that says its
// record was stored, stopped as long as it was, has it stored.
void AttacksTest::stoppedWriterDelaysNobody()
{
    using Clock = std::chrono::steady_clock;
    const auto whole = writeTime();
    for (int round = 0; round < 60; ++round) {
        const int claimed = recordRead(m_player) + (round % 2 ? 1000 : 1);
        const pid_t attacker = start(m_attacker, "record\n" + QByteArray::number(claimed) + "\n" + m_attacker.name
                                                     + QByteArray::number(claimed));
        // Spread over the writer's whole life.
        std::this_thread::sleep_for(whole * round / 50);
        ::kill(attacker, SIGSTOP);
        const int before = recordRead(m_player);
        const auto begun = Clock::now();
        QCOMPARE(store(m_player, before + 2), 0);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count();
        QVERIFY2(took < 1000, qPrintable(QStringLiteral("round %1: %2 ms").arg(round).arg(took)));
        // A second record, so that the next pair's name is free again.
        QCOMPARE(store(m_player, before + 4), 0);
        ::kill(attacker, SIGCONT);
        const bool stored = finish(attacker) == 0;
        const int after = recordRead(m_player);
        QVERIFY2(after >= before + 4 && (!stored || after >= claimed),
                 qPrintable(QStringLiteral("round %1: record %2, claimed %3 %4")
                                .arg(round).arg(after).arg(claimed).arg(stored ? "and stored" : "")));
    }
}

// 200 kills at random instants of pupil1's writer: no torn pair, never a
// lower record, never a record without its log line, and nothing left that
// a few records, clearing four leftovers at least each, do not clear.
void AttacksTest::killedWritersTearNothing()
{
    std::optional<SystemLog> log;
    if (const QByteArray path = qgetenv("ATTACK_LOG"); !path.isEmpty())
        log.emplace(path);
    const auto whole = writeTime();
    int best = 5;
    int finished = 0;
    for (int round = 0; round < 200; ++round) {
        const QByteArray score = QByteArray::number(6 + round);
        const pid_t attacker = start(m_attacker, "record\n" + score + "\n" + m_attacker.name + score);
        std::this_thread::sleep_for(
            std::chrono::microseconds(QRandomGenerator::global()->bounded(qint64(whole.count() * 12 / 10) + 1)));
        ::kill(attacker, SIGKILL);
        finished += finish(attacker) == 0;
        const int now = recordRead(m_player);
        QVERIFY2(now >= best, qPrintable(QStringLiteral("round %1: %2 after %3").arg(round).arg(now).arg(best)));
        best = now;
        QByteArray lines;
        for (QByteArray line; log && !(line = log->next(1)).isEmpty();)
            lines += line + '\n';
        QVERIFY2(!log || now != 6 + round || lines.contains("]: record " + score + " by " + m_attacker.name),
                 qPrintable(QStringLiteral("round %1: stored, not logged").arg(round)));
    }
    qInfo("one write %lld us; %d of 200 writers finished before their kill; record %d", qint64(whole.count()),
          finished, best);
    log.reset(); // a log nobody reads would hold each record a second
    int records = 0;
    do
        QCOMPARE(store(m_player, 1000 + records++), 0);
    while ((!QDir(directory + "/staging").isEmpty() || QDir(directory).entryList({"record.*"}, QDir::Dirs).size() > 1)
           && records <= 200 / 4);
    qInfo("%d records of pupil2's cleared what the kills left", records);
    QStringList left = QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &file : rootsFiles + QStringList{"staging"})
        QVERIFY(left.removeOne(file));
    QCOMPARE(QDir(directory + "/staging").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(left.size(), 1);
    QVERIFY(left.first().startsWith(u"record."));
    QCOMPARE(QDir(directory + u'/' + left.first()).entryList(QDir::Files), (QStringList{"nom.txt", "punt.txt"}));
}

// pupil1 starts 40 helpers at once, stops them, then kills them: his
// unfinished pairs stay within his 8 slots, pupil2's record does not wait
// for them, and pupil1's next record clears them.
void AttacksTest::leftoversStayWithinTheAccountsSlots()
{
    const QDir staging(directory + "/staging");
    const QStringList own{QString::number(m_attacker.uid) + ".*"};
    QList<pid_t> attackers;
    for (int n = 0; n < 40; ++n) {
        const QByteArray score = QByteArray::number(100 + n);
        attackers << start(m_attacker, "record\n" + score + "\n" + m_attacker.name + score);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (const pid_t attacker : attackers)
        ::kill(attacker, SIGSTOP);
    const auto begun = std::chrono::steady_clock::now();
    QCOMPARE(store(m_player, 30000), 0);
    const auto took = std::chrono::steady_clock::now() - begun;
    for (const pid_t attacker : attackers) {
        ::kill(attacker, SIGKILL);
        finish(attacker);
    }
    const qsizetype left = staging.entryList(own, QDir::Dirs).size();
    qInfo("pupil2's record took %lld ms; pupil1 left %lld pairs",
          qint64(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()), qint64(left));
    QVERIFY(took < std::chrono::milliseconds(500));
    QVERIFY(left <= 8);
    QCOMPARE(store(m_attacker, 30001), 0);
    QCOMPARE(staging.entryList(own, QDir::Dirs), QStringList());
}

void AttacksTest::logNamesTheAccount_data()
{
    QTest::addColumn<bool>("flooded");
    QTest::addColumn<bool>("interrupted"); // stopped and continued while it waits for the log
    QTest::newRow("a log that takes the line") << false << false;
    QTest::newRow("a log flooded by others: stored a second late") << true << false;
    QTest::newRow("a flooded log read meanwhile, the wait interrupted") << true << true;
}

void AttacksTest::logNamesTheAccount()
{
    QFETCH(bool, flooded);
    QFETCH(bool, interrupted);
    const QByteArray path = qgetenv("ATTACK_LOG");
    if (path.isEmpty())
        QSKIP("no log socket to listen on");
    SystemLog log(path);
    QVERIFY(log.isBound());
    QVERIFY(!flooded || log.flood());
    if (interrupted) {
        const pid_t writer = start(m_attacker, "record\n7\n" + m_attacker.name + "7");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::kill(writer, SIGSTOP);
        ::kill(writer, SIGCONT);
        QByteArray line;
        do
            line = log.next(2000);
        while (line == "flood");
        QCOMPARE(finish(writer), 0);
        QVERIFY2(line.endsWith("]: record 7 by " + m_attacker.name + " (uid " + QByteArray::number(m_attacker.uid) + ")"),
                 line.constData());
        return;
    }
    const auto begun = std::chrono::steady_clock::now();
    QCOMPARE(store(m_attacker, 7), 0);
    const auto took = std::chrono::steady_clock::now() - begun;
    QVERIFY(!flooded || (took > std::chrono::milliseconds(900) && took < std::chrono::seconds(3)));
    QCOMPARE(store(m_player, 3), 1); // not higher: nothing to log
    QCOMPARE(recordRead(m_player), 7);
    QByteArray line = log.next(2000);
    while (flooded && line == "flood")
        line = log.next(100);
    QVERIFY2(flooded ? line.isEmpty()
                     : line.endsWith("]: record 7 by " + m_attacker.name + " (uid " + QByteArray::number(m_attacker.uid)
                                     + ")"),
             line.constData());
    QCOMPARE(log.next(100), QByteArray());
}

QTEST_GUILESS_MAIN(AttacksTest)
#include "tst_attacks.moc"
