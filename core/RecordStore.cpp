#include "RecordStore.h"

#include "LeadingNumber.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace core {

namespace {

// Record files are group-writable, so that the players who share the
// directory through a group can all set a record.
constexpr mode_t fileMode = 0664;
// Nobody outside that group may even open the lock file.
constexpr mode_t lockMode = 0660;

int openCount = 0;

// An open record file; counts towards the file numbers in use.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) { ++openCount; }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        --openCount;
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

// A missing directory is a missing path, not a missing file.
int openDirectory(const std::string &path)
{
    // A trailing separator would make the system follow a link in the
    // directory's place.
    std::string plain = path;
    while (plain.size() > 1 && plain.back() == '/')
        plain.pop_back();
    const int fd = ::open(plain.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        fail(errno == ENOENT ? ENOTDIR : errno);
    return fd;
}

} // namespace

void writeAll(int fd, std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        done += std::size_t(n);
    }
}

void writeNewFile(int directory, const char *name, std::string_view bytes, mode_t mode)
{
    Descriptor file(::openat(directory, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.fd() < 0)
        fail(errno);
    int error = 0;
    try {
        writeAll(file.fd(), bytes);
    } catch (const Failure &failure) {
        error = failure.systemError();
    }
    if (error == 0 && (::fchmod(file.fd(), mode) != 0 || ::fsync(file.fd()) != 0))
        error = errno;
    // Closing can report a late write failure.
    if (file.close() != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlinkat(directory, name, 0);
        fail(error);
    }
}

int openFiles()
{
    return openCount;
}

Directory::Directory(const std::string &path) : m_fd(openDirectory(path)) {}

Directory::Directory(const Directory &parent, const char *entry)
    : m_fd(::openat(parent.fd(), entry, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC))
{
    if (m_fd < 0)
        fail(errno);
}

Directory::~Directory()
{
    ::close(m_fd);
}

Lock::Lock(const std::string &directory)
{
    const Directory open(directory);
    m_fd = lockable(open.fd());
    acquire();
}

Lock::Lock(const Directory &directory) : m_fd(lockable(directory.fd()))
{
    acquire();
}

// Whoever can open a file can hold a lock on it, and every player can open
// the directory. The lock file is for the directory's writers alone: the
// package makes it for the games group, and a copy that writes by itself
// makes it the first time, for the group that shares the directory.
int Lock::lockable(int directory)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        int file = ::openat(directory, lockFile, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file < 0 && errno == ENOENT) {
            file = ::openat(directory, lockFile, O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, lockMode);
            if (file < 0 && errno == EEXIST)
                continue; // another copy made it meanwhile
            if (file >= 0)
                ::fchmod(file, lockMode); // whatever the umask left
        }
        if (file < 0)
            fail(errno);
        struct stat info;
        if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(file);
            fail(EISDIR); // a link, directory or pipe is no lock file
        }
        return file;
    }
    fail(EEXIST);
}

void Lock::acquire()
{
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

Lock::~Lock()
{
    ::close(m_fd); // releases the lock
}

void createIfAbsent(const Directory &directory, const char *name)
{
    struct stat info;
    if (::fstatat(directory.fd(), name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(info.st_mode))
            fail(EISDIR); // a link, directory or pipe is no record file
        return;
    }
    if (errno != ENOENT)
        fail(errno);
    Descriptor file(::openat(directory.fd(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, fileMode));
    if (file.fd() < 0) {
        if (errno == EEXIST)
            return; // another copy of the game was quicker
        fail(errno);
    }
    ::fchmod(file.fd(), fileMode);
}

bool readUpTo(int fd, std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            bytes.resize(done);
            return false;
        }
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    bytes.resize(done);
    return true;
}

std::string readWhole(const Directory &directory, const char *name)
{
    Descriptor file(::openat(directory.fd(), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.fd() < 0)
        fail(errno);
    struct stat info;
    if (::fstat(file.fd(), &info) != 0)
        fail(errno);
    if (!S_ISREG(info.st_mode))
        fail(EISDIR);

    // Shorter when the file shrank while we read.
    std::string bytes(std::min(std::size_t(info.st_size), readLimit), '\0');
    if (!readUpTo(file.fd(), bytes))
        fail(errno);
    return bytes;
}

std::string readWholeIfPresent(const Directory &directory, const char *name)
{
    struct stat info;
    if (::fstatat(directory.fd(), name, &info, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
        return {};
    return readWhole(directory, name);
}

Replacement::Replacement(const Directory &directory, const char *name, std::string_view line)
    : m_directory(directory.fd()), m_name(name)
{
    m_temporary = name;
    m_temporary += ".new";
    if (::unlinkat(m_directory, m_temporary.c_str(), 0) != 0 && errno != ENOENT)
        fail(errno);
    std::string bytes(line);
    bytes += "\r\n";
    writeNewFile(m_directory, m_temporary.c_str(), bytes, fileMode);
}

Replacement::~Replacement()
{
    if (!m_done)
        ::unlinkat(m_directory, m_temporary.c_str(), 0);
}

void Replacement::commit()
{
    if (::renameat(m_directory, m_temporary.c_str(), m_directory, m_name) != 0)
        fail(errno);
    m_done = true;
}

void writeLine(const Directory &directory, const char *name, std::string_view line)
{
    Replacement(directory, name, line).commit();
}

void createFiles(const Directory &directory)
{
    createIfAbsent(directory, scoreFile);
    createIfAbsent(directory, nameFile);
}

Outcome storeRecord(const Directory &directory, std::string_view score, std::string_view name, double current)
{
    const Lock lock(directory);
    // Another copy of the game may have stored a better score meanwhile.
    if (!(leadingValue(readWholeIfPresent(directory, scoreFile)) < current))
        return Outcome::NotHigher;
    // Both new files are on the disk before either replaces the old one, so
    // a full disk cannot leave a new score beside the old name.
    Replacement newScore(directory, scoreFile, score);
    Replacement newName(directory, nameFile, name);
    newScore.commit();
    newName.commit();
    // Some file systems cannot flush a directory; the renames stand there.
    if (::fsync(directory.fd()) != 0 && errno != EINVAL)
        fail(errno);
    return Outcome::Stored;
}

} // namespace core
