#include "TcpNoDelay.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

bool disableNagleOnTcp(int fd)
{
    int type = 0;
    socklen_t length = sizeof(type);
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) {
        return false; // not a socket at all, or not a stream
    }
    sockaddr_storage address{};
    length = sizeof(address);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        (address.ss_family != AF_INET && address.ss_family != AF_INET6)) {
        return false;
    }
    const int on = 1;
    return setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) == 0;
}
