#include "Failure.h"

#include <cerrno>

namespace core {

int errorNumber(int error)
{
    switch (error) {
    case ENOENT:
        return FileNotFound;
    case ENOTDIR:
        return PathNotFound;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return DiskFull;
    case EACCES:
    case EPERM:
        return PermissionDenied;
    default:
        return PathFileAccessError;
    }
}

void fail(int error)
{
    throw Failure(errorNumber(error), error);
}

} // namespace core
