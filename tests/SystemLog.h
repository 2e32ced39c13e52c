#pragma once

#include <QByteArray>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// Stands for the system log: a datagram socket bound where the record
// helper sends its lines, open to every account, as /dev/log is.
class SystemLog
{
public:
    explicit SystemLog(const QByteArray &path) : m_path(path)
    {
        ::unlink(path.constData());
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        m_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        m_bound = ::bind(m_socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0
            && ::chmod(path.constData(), 0666) == 0;
    }
    ~SystemLog()
    {
        ::close(m_socket);
        ::unlink(m_path.constData());
    }
    SystemLog(const SystemLog &) = delete;
    SystemLog &operator=(const SystemLog &) = delete;

    bool isBound() const { return m_bound; }

    // The next line, or nothing after waitMs.
    QByteArray next(int waitMs)
    {
        timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
        ::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char line[512];
        const ssize_t n = ::recv(m_socket, line, sizeof line, 0);
        return n > 0 ? QByteArray(line, int(n)) : QByteArray();
    }

private:
    QByteArray m_path;
    int m_socket = -1;
    bool m_bound = false;
};
