// valtrino-record: does the game's writes into the shared record directory,
// installed set-group-id so that every player can set a record there while
// the game itself runs with no privilege. The request and the exit statuses
// are described in RecordRequest.h.
//
// Whoever starts it may be hostile: it trusts no environment, descriptor,
// umask or argument, uses only the directory fixed when it was built, and
// never follows a link.

#include "RecordRequest.h"
#include "RecordStore.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#ifndef VALTRINO_RECORD_DIR
#error "VALTRINO_RECORD_DIR: the record directory, fixed at build time"
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
                std::_Exit(recordcore::PathFileAccessError);
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
    bytes.assign(recordcore::maxRequestBytes + 1, '\0');
    return recordcore::readUpTo(STDIN_FILENO, bytes);
}

int refuse(std::string_view why)
{
    say(std::string("refused, nothing written: ") + std::string(why));
    return recordcore::refused;
}

} // namespace

int main(int argc, char *argv[])
{
    (void)argv;
    takeDescriptors();
    ::clearenv();
    ::umask(002);

    if (argc > 1)
        return refuse("takes no arguments; the request comes on standard input");
    std::string bytes;
    if (!readRequest(bytes))
        return refuse(std::string("standard input unreadable: ") + std::strerror(errno));
    std::string why;
    const std::optional<recordcore::Request> request = recordcore::parseRequest(bytes, why);
    if (!request)
        return refuse(why);

    const std::string directory = VALTRINO_RECORD_DIR;
    try {
        if (request->kind == recordcore::Request::Create) {
            recordcore::makeDirectory(directory);
            recordcore::createFiles(recordcore::Directory(directory));
            return recordcore::done;
        }
        const recordcore::Outcome outcome = recordcore::storeRecord(
            recordcore::Directory(directory), request->score, request->name, request->value);
        return outcome == recordcore::Outcome::Stored ? recordcore::done : recordcore::notHigher;
    } catch (const recordcore::Failure &failure) {
        say(directory + ": " + std::strerror(failure.systemError()) + ", error "
            + std::to_string(failure.code()));
        return failure.code();
    }
}
