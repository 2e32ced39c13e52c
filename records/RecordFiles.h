#pragma once

#include <QString>

#include "Int16.h"

// The two record files, punt.txt (best score) and nom.txt (its holder), one
// line each in the system code page, in one directory per machine.
namespace records {

// Where the record directory may be: the one shared by every player of the
// machine, and the player's own, used when the shared one cannot be written.
struct Location
{
    QString shared;
    QString personal;
};

Location defaultLocation();

// The record directory, created when absent, with one separator appended.
QString GetSystemDir(const Location &location);

// windowsDir already ends in a separator; the file name gets one of its own.
QString scorePath(const QString &windowsDir);
QString namePath(const QString &windowsDir);

// The lowest file number that no open record file uses.
runtime::Int16 FreeFile();

// Creates the file empty when absent; an existing file is left untouched.
void createIfAbsent(const QString &path);

// Record files hold a few bytes; a larger one was not written by the game
// and is read only this far, so that it cannot exhaust memory or time.
constexpr qsizetype readLimit = 64 * 1024;

// The whole content of the file, line ends included, up to readLimit bytes.
QString readWhole(const QString &path);
// The same, but a missing file reads as empty.
QString readWholeIfPresent(const QString &path);

// Replaces the file's content by the line and CR LF. The new content is
// written beside the file and renamed over it, so a failure leaves the old
// content whole, and a symbolic link in its place is replaced, not followed.
void writeLine(const QString &path, const QString &line);

// Held while a record is compared with the stored one and written, so that
// two copies of the game on one machine cannot overwrite each other's
// better record. It locks the directory itself: the system releases the
// lock of a copy that crashed, and no lock file is left behind.
class RecordLock
{
public:
    explicit RecordLock(const QString &windowsDir);
    ~RecordLock();
    RecordLock(const RecordLock &) = delete;
    RecordLock &operator=(const RecordLock &) = delete;

private:
    int m_fd = -1;
};

} // namespace records
