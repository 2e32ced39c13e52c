#include "RecordFiles.h"

#include "Characters.h"
#include "RecordRequest.h"
#include "RuntimeError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace records {

namespace {

const QChar separator = QDir::separator();

// The helper waits for nobody; beyond this it is not answering.
constexpr int helperTimeoutMs = 10000;

// The shared directory is closed to the players: the pair that the helper
// read there at the start-up is what Leggifiletxt returns for it.
struct SharedRead
{
    QString windowsDir;
    core::Pair pair;
};
std::optional<SharedRead> lastSharedRead;

std::string nativePath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

std::string bytesOf(const QString &text)
{
    return runtime::toCodePage(text).toStdString();
}

// Runs a record operation, turning its failure into the runtime error.
template<typename Operation>
auto guarded(Operation operation)
{
    try {
        return operation();
    } catch (const core::Failure &failure) {
        runtime::raise(failure.code());
    }
}

// The directory and the name of a record file's path.
struct Split
{
    std::string directory;
    std::string name;
};

Split split(const QString &path)
{
    const std::string native = nativePath(path);
    const std::size_t slash = native.rfind('/');
    if (slash == std::string::npos)
        return {".", native};
    return {slash == 0 ? "/" : native.substr(0, slash), native.substr(slash + 1)};
}

QString withSeparator(const QString &directory)
{
    return directory.endsWith(separator) ? directory : directory + separator;
}

bool usable(const QString &directory)
{
    if (directory.isEmpty() || !QDir().mkpath(directory))
        return false;
    return ::faccessat(AT_FDCWD, nativePath(directory).c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

bool throughHelper(const Location &location, const QString &windowsDir)
{
    return !location.helper.isEmpty() && windowsDir == withSeparator(location.shared);
}

// The runtime error for a helper's status other than done or not higher.
[[noreturn]] void helperFailed(int status)
{
    switch (status) {
    case core::FileNotFound:
    case core::DiskFull:
    case core::PermissionDenied:
    case core::PathFileAccessError:
    case core::PathNotFound:
        runtime::raise(status);
    }
    // Refused, crashed, killed or unknown: never taken for success.
    runtime::raise(runtime::PathFileAccessError);
}

// Waits for the child at most timeoutMs; false when it is still running.
bool waitFor(pid_t child, int timeoutMs, int &status)
{
#ifdef SYS_pidfd_open
    const int pidfd = int(::syscall(SYS_pidfd_open, child, 0));
    if (pidfd >= 0) {
        pollfd watch{pidfd, POLLIN, 0};
        int ready;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        do {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            ready = ::poll(&watch, 1, int(std::max<long long>(0, left.count())));
        } while (ready < 0 && errno == EINTR);
        ::close(pidfd);
        if (ready == 0)
            return false;
    }
#else
    (void)timeoutMs;
#endif
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

} // namespace

Location defaultLocation()
{
    Location location{QStringLiteral(VALTRINO_RECORD_DIR),
                      QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                          + QStringLiteral("/valtrino"),
                      {}};
#if VALTRINO_USE_HELPER
    // Only the installed program: a build run from its tree must not hand
    // its records to a helper built for another directory.
    const QString installed = QFileInfo(QStringLiteral(VALTRINO_GAMES_DIR)).canonicalFilePath();
    const QString helper = QStringLiteral(VALTRINO_HELPER);
    if (!installed.isEmpty() && QCoreApplication::applicationDirPath() == installed
        && QFileInfo(helper).isExecutable())
        location.helper = helper;
#endif
    return location;
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
    if (!location.helper.isEmpty()) {
        QByteArray answer;
        const int status = runHelper(location.helper, QByteArrayLiteral("read\n"), &answer);
        if (status == core::done) {
            std::optional<core::Pair> pair = core::parseAnswer(std::string_view(answer.constData(), answer.size()));
            if (!pair)
                helperFailed(core::refused);
            lastSharedRead = SharedRead{withSeparator(location.shared), std::move(*pair)};
            return lastSharedRead->windowsDir;
        }
        // An administrator took the helper's group away: records of one's own, as without it.
        if (status != core::PermissionDenied)
            helperFailed(status);
    } else if (usable(location.shared)) {
        return withSeparator(location.shared);
    }
    usable(location.personal);
    return withSeparator(location.personal);
#endif
}

QString scorePath(const QString &windowsDir)
{
    return windowsDir + separator + QLatin1String(core::scoreFile);
}

QString namePath(const QString &windowsDir)
{
    return windowsDir + separator + QLatin1String(core::nameFile);
}

runtime::Int16 FreeFile()
{
    return runtime::Int16::fromInt(core::openFiles() + 1);
}

void createIfAbsent(const QString &path)
{
    const Split file = split(path);
    guarded([&] { core::createIfAbsent(core::Directory(file.directory), file.name.c_str()); });
}

void createFiles(const Location &location, const QString &windowsDir)
{
    if (throughHelper(location, windowsDir))
        return;
    guarded([&] { core::createFiles(core::Directory(nativePath(windowsDir))); });
}

QString readWhole(const QString &path)
{
    if (lastSharedRead && path == scorePath(lastSharedRead->windowsDir))
        return runtime::fromCodePage(QByteArray::fromStdString(lastSharedRead->pair.score));
    if (lastSharedRead && path == namePath(lastSharedRead->windowsDir))
        return runtime::fromCodePage(QByteArray::fromStdString(lastSharedRead->pair.name));
    const Split file = split(path);
    return runtime::fromCodePage(QByteArray::fromStdString(
        guarded([&] { return core::readWhole(core::Directory(file.directory), file.name.c_str()); })));
}

QString readWholeIfPresent(const QString &path)
{
    const Split file = split(path);
    return runtime::fromCodePage(QByteArray::fromStdString(guarded(
        [&] { return core::readWholeIfPresent(core::Directory(file.directory), file.name.c_str()); })));
}

void writeLine(const QString &path, const QString &line)
{
    const Split file = split(path);
    guarded([&] { core::writeLine(core::Directory(file.directory), file.name.c_str(), bytesOf(line)); });
}

Store storeRecord(const Location &location, const QString &windowsDir, const QString &score, const QString &name,
                  double current)
{
    if (throughHelper(location, windowsDir)) {
        const int status = runHelper(location.helper, "record\n" + runtime::toCodePage(score) + '\n'
                                                          + runtime::toCodePage(name));
        switch (status) {
        case core::done:
            return Store::Stored;
        case core::notHigher:
            return Store::NotHigher;
        case core::pending:
            return Store::Pending;
        }
        helperFailed(status);
    }
    return guarded([&] {
        return core::storeRecord(core::Directory(nativePath(windowsDir)), bytesOf(score), bytesOf(name), current)
                == core::Outcome::Stored
            ? Store::Stored
            : Store::NotHigher;
    });
}

int runHelper(const QString &helper, const QByteArray &request, QByteArray *answer)
{
    // The request fits in the pipe: written whole before the helper starts,
    // it can neither block the game nor meet a closed pipe.
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    if (::fcntl(pipe[1], F_GETPIPE_SZ) < request.size())
        ::fcntl(pipe[1], F_SETPIPE_SZ, int(request.size()));
    const ssize_t written = ::write(pipe[1], request.constData(), size_t(request.size()));
    ::close(pipe[1]);
    if (written != request.size()) {
        ::close(pipe[0]);
        return -1;
    }
    // The helper reads until the end, so its input blocks like a file's.
    ::fcntl(pipe[0], F_SETFL, 0);
    int output[2] = {-1, -1};
    if (answer && ::pipe2(output, O_CLOEXEC) != 0) {
        ::close(pipe[0]);
        return -1;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[0], STDIN_FILENO);
    if (answer)
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

    const std::string program = nativePath(helper);
    char *const arguments[] = {const_cast<char *>(program.c_str()), nullptr};
    char *const environment[] = {nullptr};
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, program.c_str(), &actions, &attributes, arguments, environment);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipe[0]);
    if (answer)
        ::close(output[1]);
    if (spawned != 0) {
        if (answer)
            ::close(output[0]);
        return -1;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(helperTimeoutMs);
    const auto left = [&] {
        using namespace std::chrono;
        return int(std::max<long long>(0, duration_cast<milliseconds>(deadline - steady_clock::now()).count()));
    };
    bool answered = true;
    if (answer) {
        // Read until the helper closes its output; one byte past the
        // longest answer is enough to tell a wrong one.
        answer->clear();
        char buffer[16384];
        for (;;) {
            pollfd watch{output[0], POLLIN, 0};
            const int ready = ::poll(&watch, 1, left());
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0) {
                answered = false;
                break;
            }
            const ssize_t n = ::read(output[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            answer->append(buffer, n);
            if (size_t(answer->size()) > core::maxAnswerBytes)
                break;
        }
        ::close(output[0]);
    }

    int status = 0;
    if (!answered || !waitFor(child, left(), status)) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

RecordLock::RecordLock(const QString &windowsDir)
try : m_lock(nativePath(windowsDir)) {
} catch (const core::Failure &failure) {
    runtime::raise(failure.code());
}

} // namespace records
