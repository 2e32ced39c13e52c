#include "RecordFiles.h"

#include "Characters.h"
#include "RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace records {

namespace {

const QChar separator = QDir::separator();

// Record files are group-writable, so that the players who share the
// directory through a group can all set a record.
constexpr mode_t fileMode = 0664;

int openFiles = 0;

// An open record file; counts towards the file numbers in use.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) { ++openFiles; }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        --openFiles;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int fd() const { return m_fd; }
    // Closing can report a late write failure.
    int close()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

[[noreturn]] void fail(int error)
{
    switch (error) {
    case ENOENT:
        runtime::raise(runtime::FileNotFound);
    case ENOTDIR:
        runtime::raise(runtime::PathNotFound);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        runtime::raise(runtime::DiskFull);
    case EACCES:
    case EPERM:
        runtime::raise(runtime::PermissionDenied);
    default:
        runtime::raise(runtime::PathFileAccessError);
    }
}

// A missing file in a missing directory is a missing path.
[[noreturn]] void failOpening(const QString &path, int error)
{
    if (error == ENOENT && !QFileInfo(path).dir().exists())
        fail(ENOTDIR);
    fail(error);
}

QString withSeparator(const QString &directory)
{
    return directory.endsWith(separator) ? directory : directory + separator;
}

bool usable(const QString &directory)
{
    if (directory.isEmpty() || !QDir().mkpath(directory))
        return false;
    // The effective group counts: installed setgid games, the game may write
    // the shared directory although the player is not in that group.
    return ::faccessat(AT_FDCWD, nativePath(directory).constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

void writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        done += n;
    }
}

} // namespace

Location defaultLocation()
{
    return {QStringLiteral(VALTRINO_RECORD_DIR),
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                + QStringLiteral("/valtrino")};
}

QString GetSystemDir(const Location &location)
{
#ifdef Q_OS_WIN
    Q_UNUSED(location);
    char buffer[128] = {};
    const UINT n = GetWindowsDirectoryA(buffer, sizeof buffer);
    const QString directory = runtime::fromCodePage(QByteArray(buffer, sizeof buffer)).trimmed().left(n);
    return withSeparator(directory);
#else
    if (usable(location.shared))
        return withSeparator(location.shared);
    usable(location.personal);
    return withSeparator(location.personal);
#endif
}

QString scorePath(const QString &windowsDir)
{
    return windowsDir + separator + QStringLiteral("punt.txt");
}

QString namePath(const QString &windowsDir)
{
    return windowsDir + separator + QStringLiteral("nom.txt");
}

runtime::Int16 FreeFile()
{
    return runtime::Int16::fromInt(openFiles + 1);
}

void createIfAbsent(const QString &path)
{
    const QByteArray native = nativePath(path);
    struct stat info;
    if (::lstat(native.constData(), &info) == 0) {
        if (!S_ISREG(info.st_mode))
            fail(EISDIR); // a link, directory or pipe is no record file
        return;
    }
    if (errno != ENOENT)
        fail(errno);
    Descriptor file(::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fileMode));
    if (file.fd() < 0) {
        if (errno == EEXIST)
            return; // another copy of the game was quicker
        failOpening(path, errno);
    }
    ::fchmod(file.fd(), fileMode);
}

QString readWhole(const QString &path)
{
    Descriptor file(::open(nativePath(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.fd() < 0)
        failOpening(path, errno);
    struct stat info;
    if (::fstat(file.fd(), &info) != 0)
        fail(errno);
    if (!S_ISREG(info.st_mode))
        fail(EISDIR);

    QByteArray bytes(qMin(qsizetype(info.st_size), readLimit), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(file.fd(), bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        if (n == 0)
            break; // shrunk while we read
        done += n;
    }
    bytes.truncate(done);
    return runtime::fromCodePage(bytes);
}

QString readWholeIfPresent(const QString &path)
{
    struct stat info;
    if (::lstat(nativePath(path).constData(), &info) != 0 && errno == ENOENT)
        return QString();
    return readWhole(path);
}

RecordLock::RecordLock(const QString &windowsDir)
{
    const QString directory = windowsDir.endsWith(separator) ? windowsDir.chopped(1) : windowsDir;
    m_fd = ::open(nativePath(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0)
        fail(errno == ENOENT ? ENOTDIR : errno);
    // The holder writes two short files; waiting long means something is wrong.
    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if ((error != EWOULDBLOCK && error != EINTR) || std::chrono::steady_clock::now() > deadline) {
            ::close(m_fd);
            fail(error == EWOULDBLOCK ? EBUSY : error);
        }
        std::this_thread::sleep_for(20ms);
    }
}

RecordLock::~RecordLock()
{
    ::close(m_fd); // releases the lock
}

void writeLine(const QString &path, const QString &line)
{
    QByteArray temporary = nativePath(path) + ".XXXXXX";
    Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.fd() < 0)
        failOpening(path, errno);

    int error = 0;
    try {
        writeAll(file.fd(), runtime::toCodePage(line) + "\r\n");
    } catch (const runtime::RuntimeError &) {
        ::unlink(temporary.constData());
        throw;
    }
    if (::fchmod(file.fd(), fileMode) != 0 || ::fsync(file.fd()) != 0)
        error = errno;
    if (file.close() != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), nativePath(path).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        fail(error);
    }
}

} // namespace records
