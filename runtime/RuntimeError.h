#pragma once

#include "Failure.h"

#include <QString>
#include <exception>

namespace runtime {

// Error numbers the game can meet; the values are the classic runtime's.
// The record files' own are numbered with the record rules, which the
// set-group-id helper shares without Qt.
enum ErrorCode : int {
    InvalidCall = 5,
    Overflow = 6,
    SubscriptOutOfRange = 9,
    TypeMismatch = 13,
    FileNotFound = core::FileNotFound,
    DiskFull = core::DiskFull,
    PermissionDenied = core::PermissionDenied,
    PathFileAccessError = core::PathFileAccessError,
    PathNotFound = core::PathNotFound,
};

// A failure that no handler catches: it travels up to the event dispatch,
// which reports it and ends the process.
class RuntimeError : public std::exception
{
public:
    explicit RuntimeError(int code);

    int code() const noexcept { return m_code; }
    QString description() const;
    const char *what() const noexcept override { return "runtime error"; }

private:
    int m_code;
};

[[noreturn]] void raise(int code);

// Italian description of an error number.
QString errorDescription(int code);

// The text of the report shown before the process ends.
QString errorReport(int code);

} // namespace runtime
