#include "platform/connections.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

// Windows has no list of a process's sockets; socket handles are small
// multiples of four, so every plausible handle is asked for its addresses.
constexpr int lastHandle = 0x10000;

bool addresses(SOCKET s, sockaddr_in *local, sockaddr_in *peer)
{
    int length = sizeof(*local);
    if (getsockname(s, reinterpret_cast<sockaddr *>(local), &length) != 0 || local->sin_family != AF_INET)
        return false;
    length = sizeof(*peer);
    return getpeername(s, reinterpret_cast<sockaddr *>(peer), &length) == 0 && peer->sin_family == AF_INET;
}

} // namespace

namespace connections {

int find(int localPort, const std::string &remoteAddress, int remotePort)
{
    in_addr wanted {};
    if (inet_pton(AF_INET, remoteAddress.c_str(), &wanted) != 1)
        return -1;
    for (int handle = 4; handle < lastHandle; handle += 4) {
        sockaddr_in local {}, peer {};
        if (addresses(SOCKET(handle), &local, &peer) && ntohs(local.sin_port) == localPort
            && ntohs(peer.sin_port) == remotePort && peer.sin_addr.s_addr == wanted.s_addr)
            return handle;
    }
    return -1;
}

bool peerClosed(int socket)
{
    WSAPOLLFD entry {};
    entry.fd = SOCKET(socket);
    entry.events = POLLRDNORM;
    if (WSAPoll(&entry, 1, 0) <= 0)
        return false;
    if (entry.revents & (POLLHUP | POLLERR | POLLNVAL))
        return true;
    // The socket blocks: it is peeked at only when the poll found it readable.
    if (!(entry.revents & POLLRDNORM))
        return false;
    // Readable: either data (the peer is still there) or the end of the stream.
    char byte;
    const int n = recv(SOCKET(socket), &byte, 1, MSG_PEEK);
    return n == 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK && WSAGetLastError() != WSAEINTR);
}

void setNoDelay(int socket)
{
    const BOOL on = TRUE;
    setsockopt(SOCKET(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof(on));
}

void shutdownAll(int localPort)
{
    for (int handle = 4; handle < lastHandle; handle += 4) {
        sockaddr_in local {}, peer {};
        if (addresses(SOCKET(handle), &local, &peer) && ntohs(local.sin_port) == localPort)
            shutdown(SOCKET(handle), SD_BOTH);
    }
}

} // namespace connections
