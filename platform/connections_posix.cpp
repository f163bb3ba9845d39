#include "platform/connections.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

namespace {

std::vector<int> openDescriptors()
{
    std::vector<int> fds;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        try {
            fds.push_back(std::stoi(it->path().filename().string()));
        } catch (...) {
        }
    }
    if (fds.empty()) { // no /proc: try every plausible descriptor
        for (int fd = 3; fd < 4096; ++fd)
            fds.push_back(fd);
    }
    return fds;
}

bool addresses(int fd, sockaddr_in *local, sockaddr_in *peer)
{
    socklen_t length = sizeof(*local);
    if (getsockname(fd, reinterpret_cast<sockaddr *>(local), &length) != 0 || local->sin_family != AF_INET)
        return false;
    length = sizeof(*peer);
    return getpeername(fd, reinterpret_cast<sockaddr *>(peer), &length) == 0 && peer->sin_family == AF_INET;
}

} // namespace

namespace connections {

int find(int localPort, const std::string &remoteAddress, int remotePort)
{
    in_addr wanted {};
    if (inet_pton(AF_INET, remoteAddress.c_str(), &wanted) != 1)
        return -1;
    for (int fd : openDescriptors()) {
        sockaddr_in local {}, peer {};
        if (addresses(fd, &local, &peer) && ntohs(local.sin_port) == localPort
            && ntohs(peer.sin_port) == remotePort && peer.sin_addr.s_addr == wanted.s_addr)
            return fd;
    }
    return -1;
}

bool peerClosed(int socket)
{
    pollfd entry { socket, POLLIN | POLLRDHUP, 0 };
    if (poll(&entry, 1, 0) <= 0)
        return false;
    if (entry.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))
        return true;
    char byte;
    const ssize_t n = recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void setNoDelay(int socket)
{
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

void shutdownAll(int localPort)
{
    for (int fd : openDescriptors()) {
        sockaddr_in local {}, peer {};
        if (addresses(fd, &local, &peer) && ntohs(local.sin_port) == localPort)
            shutdown(fd, SHUT_RDWR);
    }
}

} // namespace connections
