#include "LabClaim.h"

#include "LeadingNumber.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace core::lab {

namespace {

// The score as the game writes it.
std::optional<int> scoreOf(std::string_view text)
{
    const std::optional<std::uint64_t> value = plainNumber(text, 5, 32767);
    return value ? std::optional<int>(int(*value)) : std::nullopt;
}

bool present(int directory, const char *name)
{
    struct stat info;
    return ::fstatat(directory, name, &info, AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace

std::string newClaimId()
{
    unsigned char bytes[16];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno != EINTR)
            fail(errno);
        if (n > 0)
            got += std::size_t(n);
    }
    bytes[6] = (bytes[6] & 0x0f) | 0x40; // version 4
    bytes[8] = (bytes[8] & 0x3f) | 0x80; // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

bool isClaimId(std::string_view text)
{
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

std::string claimText(const Claim &claim)
{
    return claim.id + ' ' + claim.account + ' ' + std::to_string(claim.score) + ' ' + claim.name;
}

std::optional<Claim> parseClaim(std::string_view text)
{
    const std::size_t first = text.find(' ');
    const std::size_t second = text.find(' ', first + 1);
    const std::size_t third = second == std::string_view::npos ? second : text.find(' ', second + 1);
    if (third == std::string_view::npos)
        return std::nullopt;
    Claim claim{std::string(text.substr(0, first)), std::string(text.substr(first + 1, second - first - 1)), 0,
                std::string(text.substr(third + 1))};
    const std::optional<int> score = scoreOf(text.substr(second + 1, third - second - 1));
    if (!isClaimId(claim.id) || claim.account.empty() || !score || claim.name.size() > 32767)
        return std::nullopt;
    claim.score = *score;
    return claim;
}

std::string_view verdictText(Verdict verdict)
{
    return verdict == Verdict::Stored ? "stored\n" : "not-higher\n";
}

std::optional<Verdict> parseVerdict(std::string_view text)
{
    if (text == verdictText(Verdict::Stored))
        return Verdict::Stored;
    if (text == verdictText(Verdict::NotHigher))
        return Verdict::NotHigher;
    return std::nullopt;
}

std::string recordText(const Record &record)
{
    return std::to_string(record.score) + ' ' + record.name;
}

std::optional<Record> parseRecord(std::string_view text)
{
    const std::size_t blank = text.find(' ');
    const std::optional<int> score = scoreOf(text.substr(0, blank));
    if (blank == std::string_view::npos || !score)
        return std::nullopt;
    return Record{*score, std::string(text.substr(blank + 1))};
}

void publish(const Directory &directory, const std::string &name, std::string_view bytes, mode_t mode)
{
    const std::string aside = '.' + name;
    if (::unlinkat(directory.fd(), aside.c_str(), 0) != 0 && errno != ENOENT)
        fail(errno);
    writeNewFile(directory.fd(), aside.c_str(), bytes, mode);
    if (::renameat(directory.fd(), aside.c_str(), directory.fd(), name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(directory.fd(), aside.c_str(), 0);
        fail(error);
    }
}

bool enabled(const char *configuration, const Directory &records)
{
    struct stat info;
    if (::stat(configuration, &info) != 0)
        return false;
    try {
        const Directory lab(records, directory);
        return present(lab.fd(), outbox);
    } catch (const Failure &) {
        return false;
    }
}

std::string accountOf(uid_t uid)
{
    const passwd *account = ::getpwuid(uid);
    const std::string_view name = account && account->pw_name ? account->pw_name : "";
    if (name.empty() || name.find_first_of(" \n") != std::string_view::npos)
        return '#' + std::to_string(uid);
    return std::string(name);
}

std::optional<Record> lastSeen(const Directory &records)
{
    try {
        const Directory lab(records, directory);
        return parseRecord(readWholeIfPresent(lab, seen));
    } catch (const Failure &) {
        return std::nullopt; // the lab's record unknown: the PC's own counts
    }
}

Pair better(const Pair &local, const std::optional<Record> &lab)
{
    if (!lab || !(leadingValue(local.score) < lab->score))
        return local;
    return Pair{std::to_string(lab->score) + "\r\n", lab->name + "\r\n"};
}

std::optional<Verdict> claim(const Directory &records, const Claim &claim, std::chrono::milliseconds wait)
{
    const Directory lab(records, directory);
    publish(Directory(lab, outbox), claim.id, claimText(claim), 0660);

    // The service answers within milliseconds when the server does; a
    // short poll costs nothing beside that.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        try {
            const Directory answers(lab, verdicts);
            if (present(answers.fd(), claim.id.c_str())) {
                const std::optional<Verdict> verdict = parseVerdict(readWhole(answers, claim.id.c_str()));
                ::unlinkat(answers.fd(), claim.id.c_str(), 0);
                return verdict;
            }
        } catch (const Failure &) {
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace core::lab
