// valtrino-record: keeps the record in the shared directory for the game,
// installed set-group-id so that every player can set a record there while
// the directory stays closed to them and the game itself runs with no
// privilege. The request, the answer and the exit statuses are described
// in RecordRequest.h; every record is logged, with the account that claims
// it, before it is stored.
//
// Whoever starts it may be hostile: it trusts no environment, descriptor,
// umask or argument, uses only the directory fixed when it was built,
// never follows a link, and holds nothing that another player waits for.

#include "LabClaim.h"
#include "RecordRequest.h"
#include "SharedRecord.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#ifndef VALTRINO_RECORD_DIR
#error "VALTRINO_RECORD_DIR: the record directory, fixed at build time"
#endif
#ifndef VALTRINO_LAB_CONF
#define VALTRINO_LAB_CONF "/etc/valtrino/lab.conf"
#endif
#ifndef VALTRINO_LOG_SOCKET
#define VALTRINO_LOG_SOCKET "/dev/log"
#endif

namespace {

void say(std::string_view text)
{
    std::string line = "valtrino-record: ";
    line += text;
    line += '\n';
    // Best effort: a closed standard error must not change the outcome.
    (void)!::write(STDERR_FILENO, line.data(), line.size());
}

// Standard input, output and error open (on /dev/null when they were
// closed, so that no record file can become one of them), nothing above.
void takeDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            if (null != fd)
                std::_Exit(core::PathFileAccessError);
        }
    }
    if (::close_range(3, ~0U, 0) != 0) {
        const long limit = ::sysconf(_SC_OPEN_MAX);
        for (long fd = 3; fd < (limit > 0 && limit < 65536 ? limit : 65536); ++fd)
            ::close(int(fd));
    }
}

// Reads at most one byte more than a request may have.
bool readRequest(std::string &bytes)
{
    bytes.assign(core::maxRequestBytes + 1, '\0');
    return core::readUpTo(STDIN_FILENO, bytes);
}

// "record 12 by pupil1 (uid 1001)" to the system log, for the teacher:
// anyone can claim a score by calling this program directly. Sent before the
// pair is named, so that no kill can part them; a log that does not take
// the line within a second must not hold the record back any longer.
void logRecord(int score)
{
    const uid_t uid = ::getuid();
    const passwd *account = ::getpwuid(uid);
    const std::string message = "record " + std::to_string(score) + " by " + (account ? account->pw_name : "?")
        + " (uid " + std::to_string(uid) + ")";

    char stamp[32] = {};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local))
        std::strftime(stamp, sizeof stamp, "%b %e %T ", &local);
    // Facility user, level notice.
    const std::string line = "<13>" + std::string(stamp) + "valtrino-record[" + std::to_string(::getpid())
        + "]: " + message;

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, VALTRINO_LOG_SOCKET, sizeof address.sun_path - 1);
    const int log = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (log < 0)
        return;
    const timeval wait{1, 0};
    if (::setsockopt(log, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait) == 0
        && ::connect(log, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        (void)::send(log, line.data(), line.size(), MSG_NOSIGNAL);
    ::close(log);
}

#ifdef VALTRINO_PAUSE_FIFO
// The tests' helper only: waits at this fifo, while it exists, until the
// test writes a byte, so that the test can act between two steps.
void pause()
{
    const int fifo = ::open(VALTRINO_PAUSE_FIFO, O_RDONLY | O_CLOEXEC);
    if (fifo < 0)
        return;
    char go = 0;
    (void)!::read(fifo, &go, 1);
    ::close(fifo);
}
constexpr void (*listed)() = pause;
#else
constexpr void (*listed)() = nullptr;
#endif

int refuse(std::string_view why)
{
    say(std::string("refused, nothing written: ") + std::string(why));
    return core::refused;
}

} // namespace

int main(int argc, char *argv[])
{
    (void)argv;
    takeDescriptors();
    ::clearenv();
    // The group writes the pairs it replaces; nobody else gets anything.
    ::umask(007);
    // A game that went away before the answer must not kill the helper.
    ::signal(SIGPIPE, SIG_IGN);

    if (argc > 1)
        return refuse("takes no arguments; the request comes on standard input");
    std::string bytes;
    if (!readRequest(bytes))
        return refuse(std::string("standard input unreadable: ") + std::strerror(errno));
    std::string why;
    const std::optional<core::Request> request = core::parseRequest(bytes, why);
    if (!request)
        return refuse(why);

    const std::string directory = VALTRINO_RECORD_DIR;
    try {
        const core::Directory shared(directory);
        core::Steps steps;
        steps.listed = listed;
        // Lab mode: the lab's record as last seen counts as a stored one.
        const bool lab = core::lab::enabled(VALTRINO_LAB_CONF, shared);
        const std::optional<core::lab::Record> seen = lab ? core::lab::lastSeen(shared) : std::nullopt;
        if (request->kind == core::Request::Read) {
            core::writeAll(STDOUT_FILENO, core::answerOf(core::lab::better(core::readShared(shared, steps), seen)));
            return core::done;
        }
        if (seen && seen->score >= request->value)
            return core::notHigher;
        steps.naming = [&] { logRecord(request->value); };
        const core::Outcome outcome = core::storeShared(shared, request->score, request->name, request->value, steps);
        if (outcome == core::Outcome::NotHigher)
            return core::notHigher;
        if (!lab)
            return core::done;
        const auto verdict = core::lab::claim(shared,
            {core::lab::newClaimId(), core::lab::accountOf(::getuid()), request->value, std::string(request->name)},
            std::chrono::milliseconds(3500));
        return !verdict ? core::pending : *verdict == core::lab::Verdict::Stored ? core::done : core::notHigher;
    } catch (const core::Failure &failure) {
        say(directory + ": " + std::strerror(failure.systemError()) + ", error "
            + std::to_string(failure.code()));
        return failure.code();
    }
}
