// What two pupils can do to the shared record through the set-group-id
// helper as installed: pupil1 attacks, pupil2 must still play and set a
// better record. Run as root, which plays both pupils; the helper, its
// directory and the log socket come from the environment:
//   ATTACK_HELPER  the helper, set-group-id to a group neither pupil is in
//   ATTACK_DIR     its record directory
//   ATTACK_LOG     a datagram socket path to listen on for its log, if free
//   ATTACK_PUPILS  "pupil1:pupil2", two ordinary accounts

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

// In a child: become the pupil, nothing more.
void become(const Pupil &p)
{
    if (::setgroups(0, nullptr) != 0 || ::setgid(p.gid) != 0 || ::setuid(p.uid) != 0)
        ::_exit(120);
}

// The helper started as the pupil, with the request on its input; its
// output, if wanted, comes through *output.
pid_t start(const Pupil &p, const QByteArray &request, int *output = nullptr)
{
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        return -1;
    ::write(in[1], request.constData(), size_t(request.size()));
    ::close(in[1]);
    const pid_t child = ::fork();
    if (child == 0) {
        become(p);
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::close_range(3, ~0U, 0);
        char *const arguments[] = {const_cast<char *>(helper.constData()), nullptr};
        char *const environment[] = {nullptr};
        ::execve(helper.constData(), arguments, environment);
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (output)
        *output = out[0];
    else
        ::close(out[0]);
    return child;
}

int finish(pid_t child)
{
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int store(const Pupil &p, int score)
{
    return finish(start(p, "record\n" + QByteArray::number(score) + "\n" + p.name + QByteArray::number(score)));
}

// What the pupil's start-up reads: the helper's status and answer.
QPair<int, QByteArray> read(const Pupil &p)
{
    int output = -1;
    const pid_t child = start(p, "read\n", &output);
    QByteArray answer;
    char buffer[4096];
    for (ssize_t n; (n = ::read(output, buffer, sizeof buffer)) > 0;)
        answer.append(buffer, n);
    ::close(output);
    return {finish(child), answer};
}

// The score in an answer whose pair is whole: "pupilN<score>" beside its
// score, or the empty pair. -1 for anything else.
int wholeScore(const QByteArray &answer)
{
    if (answer == "0 0\n")
        return 0;
    const int end = answer.indexOf('\n');
    const QList<QByteArray> lengths = answer.left(end).split(' ');
    const QByteArray rest = answer.mid(end + 1);
    if (lengths.size() != 2)
        return -1;
    const QByteArray score = rest.left(lengths[0].toInt()), name = rest.mid(lengths[0].toInt());
    bool number = false;
    const int value = score.chopped(2).toInt(&number);
    if (!number || !name.endsWith(QByteArray::number(value) + "\r\n"))
        return -1;
    return value;
}

// As the pupil, in a child: 0 when the call succeeded.
template<typename Attack>
int asPupil(const Pupil &p, Attack attack)
{
    const pid_t child = ::fork();
    if (child == 0) {
        become(p);
        ::_exit(attack() ? 0 : 1);
    }
    return finish(child);
}

QStringList everythingInside()
{
    QStringList paths{directory};
    QDirIterator it(directory, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    return paths;
}

// The helper's own entries after its writes settled: one pair, no unnamed one.
QStringList helpersEntries()
{
    QStringList left = QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &file : rootsFiles)
        left.removeOne(file);
    if (left.removeOne(QStringLiteral("staging")) && !QDir(directory + "/staging").isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot))
        left << QStringLiteral("staging/*");
    return left;
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
    const QStringList paths = everythingInside();
    QVERIFY(paths.size() >= 4); // the directory, a pair and its two files
    for (const QString &path : paths) {
        const QByteArray native = QFile::encodeName(path);
        const QByteArray link = QFile::encodeName(QDir::tempPath() + "/valtrino-attack-link");
        ::unlink(link.constData());
        const int result = asPupil(m_attacker, [&] {
            switch (attack) {
            case 0: {
                const int fd = ::open(native.constData(), O_WRONLY | O_TRUNC);
                return fd >= 0 && ::write(fd, "99999\r\n", 7) == 7;
            }
            case 1:
                return ::truncate(native.constData(), 0) == 0;
            case 2:
                return ::chmod(native.constData(), 0) == 0;
            case 3:
                return ::link(native.constData(), link.constData()) == 0;
            case 4: {
                const int fd = ::open(native.constData(), O_RDONLY);
                return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            }
            default:
                return ::open((native + "/punt.txt.x").constData(), O_WRONLY | O_CREAT | O_EXCL, 0666) >= 0;
            }
        });
        ::unlink(link.constData());
        QVERIFY2(result != 0, qPrintable(path));
    }
    const auto [status, answer] = read(m_player);
    QCOMPARE(status, 0);
    const QByteArray name = m_attacker.name + "12\r\n";
    QCOMPARE(answer, "4 " + QByteArray::number(name.size()) + "\n12\r\n" + name);
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
        const int best = wholeScore(read(m_player).second);
        const int claimed = round % 2 ? best + 1000 : best + 1;
        const pid_t attacker = start(m_attacker, "record\n" + QByteArray::number(claimed) + "\n" + m_attacker.name
                                                     + QByteArray::number(claimed));
        // Spread over the writer's whole life.
        std::this_thread::sleep_for(whole * round / 50);
        ::kill(attacker, SIGSTOP);
        const int before = wholeScore(read(m_player).second);
        const auto begun = Clock::now();
        QCOMPARE(store(m_player, before + 2), 0);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count();
        QVERIFY2(took < 1000, qPrintable(QStringLiteral("round %1: %2 ms").arg(round).arg(took)));
        // A second record, so that the next pair's name is free again.
        QCOMPARE(store(m_player, before + 4), 0);
        QCOMPARE(wholeScore(read(m_player).second), before + 4);
        ::kill(attacker, SIGCONT);
        const int status = finish(attacker);
        const int after = wholeScore(read(m_player).second);
        QVERIFY2(after >= before + 4, qPrintable(QStringLiteral("round %1: %2").arg(round).arg(after)));
        if (status == 0)
            QVERIFY2(after >= claimed, qPrintable(QStringLiteral("round %1: stored %2, record %3")
                                                      .arg(round).arg(claimed).arg(after)));
    }
}

// 200 kills at random instants of pupil1's writer: no torn pair, never a
// lower record, and nothing left that the next write does not clear.
void AttacksTest::killedWritersTearNothing()
{
    const auto whole = writeTime();
    int best = 5;
    int stored = 0;
    for (int round = 0; round < 200; ++round) {
        const int score = 6 + round;
        const pid_t attacker = start(m_attacker, "record\n" + QByteArray::number(score) + "\n" + m_attacker.name
                                                     + QByteArray::number(score));
        std::this_thread::sleep_for(
            std::chrono::microseconds(QRandomGenerator::global()->bounded(qint64(whole.count() * 12 / 10) + 1)));
        ::kill(attacker, SIGKILL);
        stored += finish(attacker) == 0;
        const int now = wholeScore(read(m_player).second);
        QVERIFY2(now >= best, qPrintable(QStringLiteral("round %1: %2 after %3").arg(round).arg(now).arg(best)));
        best = now;
    }
    qInfo("one write %lld us; %d of 200 writers finished before their kill; record %d", qint64(whole.count()), stored,
          best);
    QCOMPARE(store(m_player, 1000), 0);
    const QStringList left = helpersEntries();
    QCOMPARE(left.size(), 1);
    QVERIFY(left.first().startsWith(u"record."));
    QCOMPARE(QDir(directory + u'/' + left.first()).entryList(QDir::Files), (QStringList{"nom.txt", "punt.txt"}));
}

void AttacksTest::logNamesTheAccount()
{
    const QByteArray path = qgetenv("ATTACK_LOG");
    if (path.isEmpty())
        QSKIP("no log socket to listen on");
    ::unlink(path.constData());
    const int log = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    QCOMPARE(::bind(log, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ::chmod(path.constData(), 0666);
    QCOMPARE(store(m_attacker, 7), 0);
    QCOMPARE(store(m_player, 3), 1); // not higher: nothing to log
    timeval wait{2, 0};
    ::setsockopt(log, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char line[512] = {};
    const ssize_t n = ::recv(log, line, sizeof line - 1, 0);
    ::close(log);
    ::unlink(path.constData());
    QVERIFY(n > 0);
    QVERIFY2(QByteArray(line).endsWith("]: record 7 by " + m_attacker.name + " (uid "
                                       + QByteArray::number(m_attacker.uid) + ")"),
             line);
}

QTEST_GUILESS_MAIN(AttacksTest)
#include "tst_attacks.moc"
