#include "SharedRecord.h"

#include "LeadingNumber.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <random>
#include <utility>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace core {

namespace {

// Other players' helpers remove the pairs they replace, so the group may
// write a pair's directory; its files never change once it is named.
constexpr mode_t pairDirectoryMode = 0770;
constexpr mode_t pairFileMode = 0640;

// Far more races than the players of one machine can run at once; beyond
// this, something is wrong with the directory.
constexpr int attempts = 100;

// What one store spends at most on each kind of leftovers, older pairs and
// unfinished ones, whatever a player left behind: a few pairs always, then
// more until so many or so long (a busy disk makes each removal slow).
// Later records thus clear any heap.
constexpr std::size_t tidyAlways = 4;
constexpr std::size_t tidyPerCall = 16;
constexpr std::chrono::milliseconds tidyTime{2};

class Tidying
{
public:
    bool more() const
    {
        return m_removed < tidyAlways || (m_removed < tidyPerCall && std::chrono::steady_clock::now() < m_until);
    }
    void removed() { ++m_removed; }

private:
    std::size_t m_removed = 0;
    std::chrono::steady_clock::time_point m_until = std::chrono::steady_clock::now() + tidyTime;
};

using Generation = std::uint64_t;

// A descriptor closed when dropped.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd &operator=(Fd &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

int openDirectoryAt(int parent, const char *entry)
{
    return ::openat(parent, entry, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

std::string entryName(Generation generation)
{
    return generationPrefix + std::to_string(generation);
}

// "record.N", N in plain decimal digits: N. Any other name is not a pair's.
std::optional<Generation> generationOf(std::string_view entry)
{
    const std::string_view prefix = generationPrefix;
    if (!entry.starts_with(prefix))
        return std::nullopt;
    return plainNumber(entry.substr(prefix.size()), 18, UINT64_MAX);
}

// The six letters or digits of a staged pair's name.
bool isDrawn(std::string_view entry)
{
    if (entry.size() != 6)
        return false;
    for (const char c : entry) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

std::string drawName()
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[6] = {};
    if (::getrandom(random, sizeof random, 0) != ssize_t(sizeof random))
        fail(errno);
    std::string name;
    for (const unsigned char r : random)
        name += letters[r % (sizeof letters - 1)];
    return name;
}

// Calls visit with each name in a directory, listed afresh.
template<typename Visit>
void eachEntry(int directory, Visit visit)
{
    Fd listed(::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (listed.get() < 0)
        fail(errno);
    DIR *list = ::fdopendir(listed.get());
    if (!list)
        fail(errno);
    listed.release(); // closedir closes it
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(list);
        if (!entry) {
            error = errno;
            break;
        }
        visit(std::string_view(entry->d_name));
    }
    ::closedir(list);
    if (error != 0)
        fail(error);
}

std::vector<std::string> entries(int directory)
{
    std::vector<std::string> names;
    eachEntry(directory, [&](std::string_view name) { names.emplace_back(name); });
    return names;
}

std::optional<Generation> newest(const std::vector<std::string> &listed)
{
    std::optional<Generation> top;
    for (const std::string &entry : listed) {
        const std::optional<Generation> generation = generationOf(entry);
        if (generation && (!top || *generation > *top))
            top = generation;
    }
    return top;
}

std::optional<Generation> newest(int directory)
{
    return newest(entries(directory));
}

// Removes a pair's two files by their names, then its directory if that
// left it empty: whatever else someone put there stays.
void removePair(int parent, const char *entry)
{
    const Fd pair(openDirectoryAt(parent, entry));
    if (pair.get() < 0)
        return;
    ::unlinkat(pair.get(), scoreFile, 0);
    ::unlinkat(pair.get(), nameFile, 0);
    ::unlinkat(parent, entry, AT_REMOVEDIR);
}

// Pairs that killed helpers left unnamed, as many as tidying allows, drawn
// at random among all of them, so that pairs of living helpers hide no dead
// ones. A living helper, even a stopped one, holds a lock on its own, and
// nobody ever waits for that lock.
void clearStaging(int directory, Tidying tidying)
{
    const Fd place(openDirectoryAt(directory, stagingDirectory));
    if (place.get() < 0)
        return;
    std::vector<std::string> drawn;
    try {
        std::uint64_t seed = 0;
        (void)!::getrandom(&seed, sizeof seed, 0);
        std::mt19937_64 random(seed);
        std::uint64_t seen = 0;
        eachEntry(place.get(), [&](std::string_view name) {
            if (!isDrawn(name))
                return;
            if (drawn.size() < tidyPerCall)
                drawn.emplace_back(name);
            else if (const std::uint64_t slot = random() % (seen + 1); slot < tidyPerCall)
                drawn[slot] = name;
            ++seen;
        });
    } catch (const Failure &) {
        return; // tidying is not worth a lost record
    }
    for (const std::string &name : drawn) {
        if (!tidying.more())
            return;
        const Fd pair(openDirectoryAt(place.get(), name.c_str()));
        if (pair.get() >= 0 && ::flock(pair.get(), LOCK_EX | LOCK_NB) == 0) {
            removePair(place.get(), name.c_str());
            tidying.removed();
        }
    }
}

void syncDirectory(const Directory &directory)
{
    // Some file systems cannot flush a directory; the rename stands there.
    if (::fsync(directory.fd()) != 0 && errno != EINVAL)
        fail(errno);
}

// A pair made whole, flushed, in a directory of its own under staging/,
// until it is named. Dropped unnamed, it is removed.
class Staged
{
public:
    Staged(const Directory &directory, std::string_view scoreBytes, std::string_view nameBytes)
        : m_directory(directory.fd())
    {
        if (::mkdirat(m_directory, stagingDirectory, pairDirectoryMode) != 0 && errno != EEXIST)
            fail(errno);
        m_place = Fd(openDirectoryAt(m_directory, stagingDirectory));
        if (m_place.get() < 0)
            fail(errno);
        for (int attempt = 0; attempt < attempts && m_pair.get() < 0; ++attempt)
            makeOwn();
        if (m_pair.get() < 0)
            fail(EBUSY);
        try {
            if (::fchmod(m_pair.get(), pairDirectoryMode) != 0)
                fail(errno);
            // Each file is flushed before the pair is named; the names in
            // the pair's directory reach the disk with the rename, which the
            // journal keeps in order, when the record directory is flushed.
            writeNewFile(m_pair.get(), scoreFile, scoreBytes, pairFileMode);
            writeNewFile(m_pair.get(), nameFile, nameBytes, pairFileMode);
        } catch (const Failure &) {
            removePair(m_place.get(), m_name.c_str());
            throw;
        }
    }

    ~Staged()
    {
        if (!m_named && m_pair.get() >= 0)
            removePair(m_place.get(), m_name.c_str());
    }

    Staged(const Staged &) = delete;
    Staged &operator=(const Staged &) = delete;

    // False when the name is taken: another record came first.
    bool nameAs(const std::string &entry)
    {
        int result = ::renameat2(m_place.get(), m_name.c_str(), m_directory, entry.c_str(), RENAME_NOREPLACE);
        if (result != 0 && errno == EINVAL) {
            // No such rename here; a plain one still fails on a pair's
            // directory, which is never empty while it stands.
            result = ::renameat(m_place.get(), m_name.c_str(), m_directory, entry.c_str());
        }
        if (result != 0) {
            if (errno == EEXIST || errno == ENOTEMPTY)
                return false;
            fail(errno);
        }
        m_named = true;
        return true;
    }

private:
    // A fresh directory, locked, that no clean-up took meanwhile.
    void makeOwn()
    {
        m_name = drawName();
        if (::mkdirat(m_place.get(), m_name.c_str(), pairDirectoryMode) != 0) {
            if (errno == EEXIST)
                return;
            fail(errno);
        }
        Fd pair(openDirectoryAt(m_place.get(), m_name.c_str()));
        if (pair.get() < 0) {
            if (errno == ENOENT)
                return;
            fail(errno);
        }
        if (::flock(pair.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK)
                return; // a clean-up is removing it
            fail(errno);
        }
        struct stat opened, named;
        if (::fstat(pair.get(), &opened) != 0
            || ::fstatat(m_place.get(), m_name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0
            || opened.st_ino != named.st_ino || opened.st_dev != named.st_dev)
            return;
        m_pair = std::move(pair);
    }

    int m_directory;
    Fd m_place;
    Fd m_pair;
    std::string m_name;
    bool m_named = false;
};

// The pair named after the generation, whole, or its score alone; nothing
// when it is not the newest once read: a newer one replaced it, or a stopped
// helper named a number again that a newer pair had freed.
std::optional<Pair> readPair(const Directory &directory, Generation generation, bool withName = true)
{
    const std::string entry = entryName(generation);
    Pair pair;
    try {
        const Directory named(directory, entry.c_str());
        pair.score = readWhole(named, scoreFile);
        if (withName)
            pair.name = readWhole(named, nameFile);
    } catch (const Failure &failure) {
        // Still the newest, it has lost a file: that is no race.
        if (failure.systemError() != ENOENT || newest(directory.fd()) == generation)
            throw;
        return std::nullopt;
    }
    if (newest(directory.fd()) != generation)
        return std::nullopt;
    return pair;
}

std::string line(std::string_view text)
{
    std::string bytes(text);
    bytes += "\r\n";
    return bytes;
}

} // namespace

Pair readShared(const Directory &directory, const Steps &steps)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const std::optional<Generation> top = newest(directory.fd());
        if (!top) {
            // The creation step: both files, empty.
            Staged empty(directory, {}, {});
            if (empty.nameAs(entryName(0)))
                syncDirectory(directory);
            continue;
        }
        if (steps.listed)
            steps.listed();
        if (std::optional<Pair> pair = readPair(directory, *top))
            return std::move(*pair);
    }
    fail(EBUSY);
}

Outcome storeShared(const Directory &directory, std::string_view score, std::string_view name, double current,
                    const Steps &steps)
{
    bool announced = false;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const std::optional<Generation> top = newest(directory.fd());
        if (top) {
            if (steps.listed)
                steps.listed();
            const std::optional<Pair> stored = readPair(directory, *top, false);
            if (!stored)
                continue;
            if (!(leadingValue(stored->score) < current)) {
                clearStaging(directory.fd(), Tidying());
                return Outcome::NotHigher;
            }
        }
        const Generation next = top ? *top + 1 : 0;
        const std::string entry = entryName(next);
        Staged pair(directory, line(score), line(name));
        if (!announced && steps.naming) {
            steps.naming();
            announced = true;
        }
        if (!pair.nameAs(entry))
            continue; // another record came first: compare with it
        syncDirectory(directory);
        // Stopped long enough, this helper may have taken the name of a pair
        // that newer ones had already replaced and removed.
        const std::vector<std::string> listed = entries(directory.fd());
        if (newest(listed) != next) {
            removePair(directory.fd(), entry.c_str());
            continue;
        }
        Tidying tidying;
        for (const std::string &old : listed) {
            const std::optional<Generation> generation = generationOf(old);
            if (generation && *generation < next && tidying.more()) {
                removePair(directory.fd(), old.c_str());
                tidying.removed();
            }
        }
        clearStaging(directory.fd(), Tidying());
        return Outcome::Stored;
    }
    fail(EBUSY);
}

} // namespace core
