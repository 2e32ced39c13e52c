#pragma once

#include <QByteArray>
#include <QString>

#include "Int16.h"
#include "RecordStore.h"

// The two record files, punt.txt (best score) and nom.txt (its holder), one
// line each in the system code page, in one directory per machine. The rules
// themselves live in core; this is the game's side of them.
namespace records {

// Where the record directory may be: the one shared by every player of the
// machine, and the player's own, used when the shared one cannot be written.
// With a helper, the shared directory is closed to the game: the helper
// (valtrino-record) reads and writes the record there for it.
struct Location
{
    QString shared;
    QString personal;
    QString helper = {};
};

// The installed game, built for the set-group-id helper, uses the helper
// installed beside it; any other build or copy writes by itself.
Location defaultLocation();

// The record directory, created when absent, with one separator appended.
// With a helper it asks the helper to read the shared directory, which is
// closed to the game, and keeps the pair for readWhole; it falls back to
// the player's own directory only when the helper is denied.
QString GetSystemDir(const Location &location);

// windowsDir already ends in a separator; the file name gets one of its own.
QString scorePath(const QString &windowsDir);
QString namePath(const QString &windowsDir);

// The lowest file number that no open record file uses.
runtime::Int16 FreeFile();

// Creates the file empty when absent; an existing file is left untouched.
void createIfAbsent(const QString &path);

// The creation step of the start-up: both files exist afterwards. In the
// shared directory with a helper, GetSystemDir has already run it there.
void createFiles(const Location &location, const QString &windowsDir);

// Record files hold a few bytes; a larger one was not written by the game
// and is read only this far, so that it cannot exhaust memory or time.
constexpr qsizetype readLimit = qsizetype(core::readLimit);

// The whole content of the file, line ends included, up to readLimit bytes.
// A record file of the shared directory is the one that the helper read.
QString readWhole(const QString &path);
// The same, but a missing file reads as empty.
QString readWholeIfPresent(const QString &path);

// Replaces the file's content by the line and CR LF. The new content is
// written beside the file and renamed over it, so a failure leaves the old
// content whole, and a symbolic link in its place is replaced, not followed.
void writeLine(const QString &path, const QString &line);

// What became of a record at the game end. Pending only in lab mode: kept
// on this PC, the lab's server has not answered yet.
enum class Store { Stored, NotHigher, Pending };

// The record write of the game end: under the lock, reads the score file
// again and, when current is above its value, writes score then name.
// NotHigher when another copy stored a score at least as good meanwhile.
Store storeRecord(const Location &location, const QString &windowsDir, const QString &score,
                 const QString &name, double current);

// The helper run with the request on its standard input and nothing in its
// environment: its exit status, or -1 when it did not answer (crashed,
// killed, not started, or still running after the time allowed). With
// answer, what it wrote on its standard output goes there.
int runHelper(const QString &helper, const QByteArray &request, QByteArray *answer = nullptr);

// The lock that storeRecord holds, for other copies of the game.
class RecordLock
{
public:
    explicit RecordLock(const QString &windowsDir);

private:
    core::Lock m_lock;
};

} // namespace records
