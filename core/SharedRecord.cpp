#include "SharedRecord.h"

#include "LeadingNumber.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <optional>
#include <random>
#include <utility>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace core {

namespace {

// Other players' helpers remove the pairs they replace, so the group may
// write a pair's directory; its files never change once it is named. The
// group bit keeps the files in the group where members run the helper
// without it: else each member's files would take his own group.
constexpr mode_t pairDirectoryMode = 02770;
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
    Fd(Fd &&other) noexcept : m_fd(other.release()) {}
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

// "UID.SLOT", the name of a staged pair.
bool isStaged(std::string_view entry)
{
    const std::size_t dot = entry.find('.');
    return dot != std::string_view::npos && plainNumber(entry.substr(0, dot), 10, UINT32_MAX)
        && plainNumber(entry.substr(dot + 1), 1, stagingSlots - 1);
}

std::string slotName(int slot)
{
    return std::to_string(::getuid()) + '.' + std::to_string(slot);
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

// The staged directory at entry, locked, when its name still leads to it.
Fd lockedPair(int place, const char *entry)
{
    Fd pair(openDirectoryAt(place, entry));
    struct stat opened, named;
    if (pair.get() < 0 || ::flock(pair.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(pair.get(), &opened) != 0
        || ::fstatat(place, entry, &named, AT_SYMLINK_NOFOLLOW) != 0 || opened.st_ino != named.st_ino
        || opened.st_dev != named.st_dev)
        return Fd();
    return pair;
}

// A living helper, even a stopped one, holds a lock on its staged pair, and
// nobody ever waits for that lock: a pair that can be locked is dead.
bool clearIfDead(int place, const char *entry)
{
    if (lockedPair(place, entry).get() < 0)
        return false;
    removePair(place, entry);
    return true;
}

// Pairs that killed helpers of any account left unnamed, as many as
// tidying allows, drawn at random so that living helpers' pairs hide no
// dead ones.
void clearStaging(int directory, Tidying tidying)
{
    const Fd place(openDirectoryAt(directory, stagingDirectory));
    if (place.get() < 0)
        return;
    std::vector<std::string> staged, drawn;
    try {
        eachEntry(place.get(), [&](std::string_view name) {
            if (isStaged(name))
                staged.emplace_back(name);
        });
    } catch (const Failure &) {
        return; // tidying is not worth a lost record
    }
    std::sample(staged.begin(), staged.end(), std::back_inserter(drawn), tidyPerCall,
                std::mt19937_64(std::random_device()()));
    for (const std::string &name : drawn) {
        if (!tidying.more())
            return;
        if (clearIfDead(place.get(), name.c_str()))
            tidying.removed();
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
        // A slot of this account's, whose dead pairs it clears: so what
        // one account's killed helpers leave stays within its slots.
        for (int slot = 0; slot < stagingSlots; ++slot) {
            const std::string name = slotName(slot);
            if (m_pair.get() < 0)
                takeSlot(name);
            else
                clearIfDead(m_place.get(), name.c_str());
        }
        if (m_pair.get() < 0)
            fail(EBUSY); // all held, by this account's busy or stopped helpers
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
    // The slot's fresh directory, locked, that no clean-up took meanwhile;
    // a dead pair there is cleared first. Nothing while a helper holds it.
    void takeSlot(const std::string &name)
    {
        for (int attempt = 0; attempt < attempts; ++attempt) {
            if (::mkdirat(m_place.get(), name.c_str(), pairDirectoryMode) == 0) {
                m_pair = lockedPair(m_place.get(), name.c_str());
                if (m_pair.get() >= 0) {
                    m_name = name;
                    return;
                }
            } else if (errno != EEXIST) {
                fail(errno);
            } else if (!clearIfDead(m_place.get(), name.c_str())
                       && ::faccessat(m_place.get(), name.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
                return;
            }
        }
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

// The flat files of an old release, which the upgrade's configure makes a
// pair: until then nothing may start a record beside them.
void awaitUpgrade(const Directory &directory)
{
    struct stat flat;
    for (const char *file : {scoreFile, nameFile}) {
        if (::fstatat(directory.fd(), file, &flat, AT_SYMLINK_NOFOLLOW) == 0)
            fail(EAGAIN);
    }
}

} // namespace

Pair readShared(const Directory &directory, const Hooks &hooks)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const std::optional<Generation> top = newest(directory.fd());
        if (!top) {
            awaitUpgrade(directory);
            // The creation step: both files, empty.
            Staged empty(directory, {}, {});
            if (empty.nameAs(entryName(0)))
                syncDirectory(directory);
            continue;
        }
        if (hooks.afterListing)
            hooks.afterListing();
        if (std::optional<Pair> pair = readPair(directory, *top))
            return std::move(*pair);
    }
    fail(EBUSY);
}

Outcome storeShared(const Directory &directory, std::string_view score, std::string_view name, double current,
                    const Hooks &hooks)
{
    bool announced = false;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const std::optional<Generation> top = newest(directory.fd());
        if (!top) {
            awaitUpgrade(directory);
        } else {
            if (hooks.afterListing)
                hooks.afterListing();
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
        if (!announced && hooks.beforeNaming) {
            hooks.beforeNaming();
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
