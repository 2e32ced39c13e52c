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
        m_address.sun_family = AF_UNIX;
        std::strncpy(m_address.sun_path, path.constData(), sizeof m_address.sun_path - 1);
        m_socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        m_bound = ::bind(m_socket, address(), sizeof m_address) == 0 && ::chmod(path.constData(), 0666) == 0;
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

    // Fills the queue with lines of someone else's, as a flood would: the
    // log takes no more until it is read. False if it took none.
    bool flood()
    {
        const int sender = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int sent = 0;
        if (::connect(sender, address(), sizeof m_address) == 0) {
            while (::send(sender, "flood", 5, MSG_DONTWAIT) == 5)
                ++sent;
        }
        ::close(sender);
        return sent > 0;
    }

private:
    const sockaddr *address() const { return reinterpret_cast<const sockaddr *>(&m_address); }

    QByteArray m_path;
    sockaddr_un m_address{};
    int m_socket = -1;
    bool m_bound = false;
};
