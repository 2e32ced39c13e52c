#pragma once

#include <exception>

namespace core {

// The error numbers of the record files' failures; the runtime reports
// the same, and the helper answers with them.
enum ErrorNumber : int {
    FileNotFound = 53,
    DiskFull = 61,
    PermissionDenied = 70,
    PathFileAccessError = 75,
    PathNotFound = 76,
};

// The runtime error number for a system error (errno).
int errorNumber(int error);

// A failure of a record operation, with its error number.
class Failure : public std::exception
{
public:
    Failure(int code, int systemError) : m_code(code), m_systemError(systemError) {}
    int code() const noexcept { return m_code; }
    int systemError() const noexcept { return m_systemError; }
    const char *what() const noexcept override { return "record file failure"; }

private:
    int m_code;
    int m_systemError;
};

[[noreturn]] void fail(int error);

} // namespace core
