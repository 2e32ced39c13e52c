#pragma once

#include "Failure.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>

// The record rules, with the C++ library and libc alone: the flat files
// that the game writes in its own process, under a lock, and the pieces
// that the helper's named pairs (SharedRecord.h) are built of. Everything
// works relative to the record directory held open, so no link put in
// place of the directory or of a file is ever followed.
namespace core {

inline constexpr char scoreFile[] = "punt.txt";
inline constexpr char nameFile[] = "nom.txt";
// Locked while a record is written; only the directory's writers can open it.
inline constexpr char lockFile[] = ".lock";

// Record files hold a few bytes; a larger one was not written by the game
// and is read only this far, so that it cannot exhaust memory or time.
inline constexpr std::size_t readLimit = 64 * 1024;

// Both record files' bytes.
struct Pair
{
    std::string score; // punt.txt
    std::string name;  // nom.txt
};

// Record files now open, for the runtime's free file number.
int openFiles();

// The record directory, open. A link in its place, or a missing directory,
// is a failure.
class Directory
{
public:
    explicit Directory(const std::string &path);
    // The directory named entry inside parent, not followed if a link.
    Directory(const Directory &parent, const char *entry);
    ~Directory();
    Directory(const Directory &) = delete;
    Directory &operator=(const Directory &) = delete;

    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// Held while a record is compared with the stored one and written, so that
// two copies of the game on one machine cannot overwrite each other's
// better record. It locks lockFile, made when absent: the system releases
// the lock of a copy that crashed.
class Lock
{
public:
    explicit Lock(const std::string &directory);
    explicit Lock(const Directory &directory);
    ~Lock();
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    static int lockable(int directory);
    void acquire();
    int m_fd = -1;
};

// Creates the file empty when absent; an existing file is left untouched.
void createIfAbsent(const Directory &directory, const char *name);

// Reads into bytes until they are full or the input ends, through
// interrupted reads; bytes then holds what was read. False, with errno set,
// on a read error.
bool readUpTo(int fd, std::string &bytes);

// The whole content of the file, up to readLimit bytes.
std::string readWhole(const Directory &directory, const char *name);
// The same, but a missing file reads as empty.
std::string readWholeIfPresent(const Directory &directory, const char *name);

// Writes all the bytes, through interrupted and short writes.
void writeAll(int fd, std::string_view bytes);

// Makes the file, which must not exist yet, with the bytes, flushed, and
// the mode whatever the umask. On a failure the file is removed again.
void writeNewFile(int directory, const char *name, std::string_view bytes, mode_t mode);

// The file's new content, the line and CR LF, written and flushed beside
// it as "<name>.new"; commit renames it over the file, so a link in its
// place is replaced, not followed. Dropped without a commit, it is removed
// and the file keeps its old content. A "<name>.new" that a killed copy
// left is replaced: writers hold the lock, so it can be no one else's.
class Replacement
{
public:
    Replacement(const Directory &directory, const char *name, std::string_view line);
    ~Replacement();
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    void commit();

private:
    int m_directory;
    const char *m_name;
    std::string m_temporary;
    bool m_done = false;
};

void writeLine(const Directory &directory, const char *name, std::string_view line);

// The creation step of the start-up: both files exist afterwards.
void createFiles(const Directory &directory);

enum class Outcome { Stored, NotHigher };

// The record write of the game end: under the lock, the score file is read
// again and, only when its leading value is below current, score and name
// replace both files, score file first. Score and name are code-page bytes.
Outcome storeRecord(const Directory &directory, std::string_view score, std::string_view name, double current);

} // namespace core
