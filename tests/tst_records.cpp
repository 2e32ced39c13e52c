#include "RecordFiles.h"
#include "RecordStore.h"
#include "RuntimeError.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// A disk whose flush takes 300 ms, while slowFlush is set: the record
// functions linked into this program call this fsync, not the system's.
std::atomic<bool> slowFlush = false;
extern "C" int fsync(int fd)
{
    if (slowFlush)
        ::usleep(300 * 1000);
    return int(::syscall(SYS_fsync, fd));
}

namespace {

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

void put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

int errorOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const runtime::RuntimeError &error) {
        return error.code();
    }
    return 0;
}

} // namespace

class RecordsTest : public QObject
{
    Q_OBJECT
private slots:
    void init();

    void directoryEndsInOneSeparator();
    void sharedDirectoryIsCreatedWhenAbsent();
    void unwritableSharedDirectoryFallsBackToThePlayers();
    void pathsDoubleTheSeparator();
    void firstRunCreatesBothFilesEmpty();
    void existingFilesAreLeftByteForByte();
    void readingGivesTheWholeFileWithItsLineEnd();
    void writeReplacesTheWholeContent_data();
    void writeReplacesTheWholeContent();
    void writeKeepsAccentedLettersInOneByte();
    void writeReplacesAPlantedLinkInsteadOfItsTarget();
    void readingAndCreatingDoNotFollowALink();
    void failedWriteLeavesTheOldRecordWhole();
    void missingFileIsFileNotFound();
    void freeFileNumberIsOneWhenNothingIsOpen();
    void unreadableFileIsPermissionDenied();
    void hugeFileIsReadOnlyToTheLimit();
    void copyKilledWhileFlushingLeavesTheOldRecordForTheNextToClear();
    void playerHoldingTheDirectoryBlocksNoRecord();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_windowsDir;
};

void RecordsTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_windowsDir = m_dir->path() + u'/';
}

void RecordsTest::directoryEndsInOneSeparator()
{
    const QString plain = records::GetSystemDir({m_dir->path(), {}});
    QCOMPARE(plain, m_dir->path() + u'/');
    const QString ending = records::GetSystemDir({m_dir->path() + u'/', {}});
    QCOMPARE(ending, m_dir->path() + u'/');
}

void RecordsTest::sharedDirectoryIsCreatedWhenAbsent()
{
    const QString shared = m_dir->filePath(QStringLiteral("var/games/valtrino"));
    QCOMPARE(records::GetSystemDir({shared, m_dir->filePath(QStringLiteral("home"))}), shared + u'/');
    QVERIFY(QFileInfo(shared).isDir());
}

// A player who may not write the shared directory plays with records of
// his own rather than failing at start-up.
void RecordsTest::unwritableSharedDirectoryFallsBackToThePlayers()
{
    // A path under a regular file can be neither created nor written, even by root.
    put(m_dir->filePath(QStringLiteral("blocker")), "x");
    const QString shared = m_dir->filePath(QStringLiteral("blocker/valtrino"));
    const QString personal = m_dir->filePath(QStringLiteral("home/.local/share/valtrino"));
    QCOMPARE(records::GetSystemDir({shared, personal}), personal + u'/');
    QVERIFY(QFileInfo(personal).isDir());
}

void RecordsTest::pathsDoubleTheSeparator()
{
    QCOMPARE(records::scorePath(QStringLiteral("/var/games/valtrino/")), QStringLiteral("/var/games/valtrino//punt.txt"));
    QCOMPARE(records::namePath(QStringLiteral("/var/games/valtrino/")), QStringLiteral("/var/games/valtrino//nom.txt"));
}

void RecordsTest::firstRunCreatesBothFilesEmpty()
{
    records::createIfAbsent(records::scorePath(m_windowsDir));
    records::createIfAbsent(records::namePath(m_windowsDir));
    QCOMPARE(bytesOf(m_dir->filePath("punt.txt")), QByteArray());
    QCOMPARE(bytesOf(m_dir->filePath("nom.txt")), QByteArray());
    QCOMPARE(records::readWhole(records::scorePath(m_windowsDir)), QString());
}

void RecordsTest::existingFilesAreLeftByteForByte()
{
    const QByteArray content("12\r\nold\r\n\x00\xFF", 10);
    put(m_dir->filePath("punt.txt"), content);
    records::createIfAbsent(records::scorePath(m_windowsDir));
    QCOMPARE(bytesOf(m_dir->filePath("punt.txt")), content);
}

void RecordsTest::readingGivesTheWholeFileWithItsLineEnd()
{
    put(m_dir->filePath("punt.txt"), "12\r\n");
    QCOMPARE(records::readWhole(records::scorePath(m_windowsDir)), QStringLiteral("12\r\n"));
}

void RecordsTest::writeReplacesTheWholeContent_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("record over a longer file") << QByteArray("12\r\nmore\r\nlines\r\n") << "13"
                                               << QByteArray("13\r\n");
    QTest::newRow("empty name") << QByteArray("Anna\r\n") << "" << QByteArray("\r\n");
    QTest::newRow("first record") << QByteArray() << "7" << QByteArray("7\r\n");
    QTest::newRow("no file yet") << QByteArray("<absent>") << "Bea" << QByteArray("Bea\r\n");
}

void RecordsTest::writeReplacesTheWholeContent()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, line);
    QFETCH(QByteArray, after);
    const QString path = m_dir->filePath("punt.txt");
    if (before != "<absent>")
        put(path, before);
    records::writeLine(records::scorePath(m_windowsDir), line);
    QCOMPARE(bytesOf(path), after);
    // Nothing is left behind beside the record.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"punt.txt"});
}

void RecordsTest::writeKeepsAccentedLettersInOneByte()
{
    records::writeLine(records::namePath(m_windowsDir), QStringLiteral("Niccolò"));
    QCOMPARE(bytesOf(m_dir->filePath("nom.txt")), QByteArray("Niccol\xF2\r\n"));
    QCOMPARE(records::readWhole(records::namePath(m_windowsDir)), QStringLiteral("Niccolò\r\n"));
}

// Another player's link in the shared directory must not let the game
// overwrite the file it points to.
void RecordsTest::writeReplacesAPlantedLinkInsteadOfItsTarget()
{
    const QString target = m_dir->filePath("someone-elses.txt");
    put(target, "precious");
    QVERIFY(QFile::link(target, m_dir->filePath("punt.txt")));
    records::writeLine(records::scorePath(m_windowsDir), QStringLiteral("9"));
    QCOMPARE(bytesOf(target), QByteArray("precious"));
    QVERIFY(!QFileInfo(m_dir->filePath("punt.txt")).isSymLink());
    QCOMPARE(bytesOf(m_dir->filePath("punt.txt")), QByteArray("9\r\n"));
}

void RecordsTest::readingAndCreatingDoNotFollowALink()
{
    const QString target = m_dir->filePath("secret.txt");
    put(target, "secret");
    QVERIFY(QFile::link(target, m_dir->filePath("nom.txt")));
    QCOMPARE(errorOf([&] { records::readWhole(records::namePath(m_windowsDir)); }), 75);
    QCOMPARE(errorOf([&] { records::createIfAbsent(records::namePath(m_windowsDir)); }), 75);
    QVERIFY(QFile::link(m_dir->filePath("nowhere"), m_dir->filePath("punt.txt")));
    QCOMPARE(errorOf([&] { records::createIfAbsent(records::scorePath(m_windowsDir)); }), 75);
    QVERIFY(!QFile::exists(m_dir->filePath("nowhere")));
}

void RecordsTest::failedWriteLeavesTheOldRecordWhole()
{
    put(m_dir->filePath("punt.txt"), "12\r\n");
    // A directory where the file should go cannot be replaced by rename.
    QVERIFY(QDir(m_dir->path()).mkpath("nom.txt/inside"));
    QCOMPARE(errorOf([&] { records::writeLine(records::namePath(m_windowsDir), "x"); }), 75);
    QCOMPARE(bytesOf(m_dir->filePath("punt.txt")), QByteArray("12\r\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"punt.txt"});
    // The directory of the files has gone.
    const QString gone = m_dir->filePath("gone/");
    QCOMPARE(errorOf([&] { records::writeLine(records::scorePath(gone), "1"); }), 76);
}

void RecordsTest::missingFileIsFileNotFound()
{
    QCOMPARE(errorOf([&] { records::readWhole(records::scorePath(m_windowsDir)); }), 53);
    QCOMPARE(errorOf([&] { records::readWhole(records::scorePath(m_windowsDir + "no/")); }), 76);
}

void RecordsTest::freeFileNumberIsOneWhenNothingIsOpen()
{
    QCOMPARE(qint16(records::FreeFile()), qint16(1));
}

void RecordsTest::unreadableFileIsPermissionDenied()
{
    if (::geteuid() == 0)
        QSKIP("root reads anything; the suite runs this again as an ordinary user");
    put(m_dir->filePath("punt.txt"), "5\r\n");
    QVERIFY(QFile::setPermissions(m_dir->filePath("punt.txt"), QFileDevice::WriteOwner));
    QCOMPARE(errorOf([&] { records::readWhole(records::scorePath(m_windowsDir)); }), 70);
}

void RecordsTest::hugeFileIsReadOnlyToTheLimit()
{
    QFile file(m_dir->filePath("nom.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(qint64(200) * 1024 * 1024));
    file.close();
    const QString text = records::readWhole(records::namePath(m_windowsDir));
    QCOMPARE(text.size(), records::readLimit);
}

void RecordsTest::copyKilledWhileFlushingLeavesTheOldRecordForTheNextToClear()
{
    put(m_dir->filePath("punt.txt"), "1\r\n");
    put(m_dir->filePath("nom.txt"), "Bea\r\n");
    // Not the game's temporaries: never touched.
    const QStringList others{"nom.txt.backup2", "punt.txt.2024ab", "punt.txt.old", "punt.txtABCDEF"};
    for (const QString &other : others)
        put(m_dir->filePath(other), "keep");
    const std::string directory = QFile::encodeName(m_dir->path()).toStdString();

    const pid_t copy = ::fork();
    if (copy == 0) {
        slowFlush = true;
        try {
            core::storeRecord(core::Directory(directory), "2", "Carla", 2);
        } catch (...) {
        }
        ::_exit(0);
    }
    // Killed while the new name is flushed, the new score on the disk already.
    const auto temporaries = [&] {
        return QDir(m_dir->path()).entryList({"punt.txt.new", "nom.txt.new"}, QDir::Files, QDir::Name);
    };
    QElapsedTimer clock;
    clock.start();
    while (temporaries().size() < 2 && clock.elapsed() < 5000)
        ::usleep(1000);
    ::kill(copy, SIGKILL);
    ::waitpid(copy, nullptr, 0);
    QCOMPARE(temporaries().size(), 2);
    QCOMPARE(bytesOf(m_dir->filePath("punt.txt")), QByteArray("1\r\n"));
    QCOMPARE(bytesOf(m_dir->filePath("nom.txt")), QByteArray("Bea\r\n"));

    // The next copy that writes clears what the killed one left.
    QCOMPARE(core::storeRecord(core::Directory(directory), "3", "Dino", 3), core::Outcome::Stored);
    QCOMPARE(bytesOf(m_dir->filePath("punt.txt")), QByteArray("3\r\n"));
    QCOMPARE(bytesOf(m_dir->filePath("nom.txt")), QByteArray("Dino\r\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{".lock", "nom.txt", "nom.txt.backup2", "punt.txt", "punt.txt.2024ab", "punt.txt.old",
                          "punt.txtABCDEF"}));
}

void RecordsTest::playerHoldingTheDirectoryBlocksNoRecord()
{
    // Any player can open the directory, and a lock needs no more.
    const int held = ::open(QFile::encodeName(m_dir->path()).constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(held >= 0);
    QCOMPARE(::flock(held, LOCK_SH | LOCK_NB), 0);
    QElapsedTimer clock;
    clock.start();
    const core::Directory directory(QFile::encodeName(m_dir->path()).toStdString());
    QCOMPARE(core::storeRecord(directory, "1", "Ada", 1), core::Outcome::Stored);
    QVERIFY2(clock.elapsed() < 2000, "waited for the player's lock");
    ::close(held);
    QCOMPARE(QFileInfo(m_dir->filePath(".lock")).permissions() & (QFileDevice::ReadOther | QFileDevice::WriteOther),
             QFileDevice::Permissions());
}

QTEST_GUILESS_MAIN(RecordsTest)
#include "tst_records.moc"
