#include "TcpSocket.h"

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

bool isTcpSocket(int fd)
{
    int type = 0;
    socklen_t length = sizeof(type);
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) {
        return false; // not a socket at all, or not a stream
    }
    sockaddr_storage address{};
    length = sizeof(address);
    return getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
           (address.ss_family == AF_INET || address.ss_family == AF_INET6);
}

bool disableNagleOnTcp(int fd)
{
    const int on = 1;
    return isTcpSocket(fd) && setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) == 0;
}

void keepUrgentDataInLine(int fd)
{
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_OOBINLINE, &on, sizeof(on));
}

std::size_t unacknowledgedBytes(int fd)
{
    int queued = 0;
    if (::ioctl(fd, SIOCOUTQ, &queued) != 0 || queued < 0) {
        return 0;
    }
    return static_cast<std::size_t>(queued);
}
