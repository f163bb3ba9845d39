#include "platform/connections.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace {

// Windows has no list of a process's sockets. The system's handle list says
// which handles this process holds, and each is asked for its addresses; that
// is one call instead of one per possible handle value, which under Wine costs
// a round trip to its server each (0.4 s for the whole range).
constexpr ULONG extendedHandleInformation = 64;
constexpr LONG infoLengthMismatch = LONG(0xC0000004);

struct HandleEntry
{
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

struct HandleList
{
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

using QuerySystemInformation = LONG(WINAPI *)(ULONG, PVOID, ULONG, PULONG);

// Every possible handle value: the fallback when the handle list is refused.
constexpr int lastHandle = 0x10000;

std::vector<SOCKET> candidateHandles()
{
    std::vector<SOCKET> handles;
    const auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query) {
        std::vector<unsigned char> buffer(1 << 20);
        LONG status = infoLengthMismatch;
        for (int attempt = 0; attempt < 6 && status == infoLengthMismatch; ++attempt) {
            ULONG needed = 0;
            status = query(extendedHandleInformation, buffer.data(), ULONG(buffer.size()), &needed);
            if (status == infoLengthMismatch)
                buffer.resize(std::max<size_t>(buffer.size() * 2, size_t(needed) + (64 << 10)));
        }
        if (status >= 0) {
            const auto *list = reinterpret_cast<const HandleList *>(buffer.data());
            const ULONG_PTR self = GetCurrentProcessId();
            const size_t room = (buffer.size() - offsetof(HandleList, entries)) / sizeof(HandleEntry);
            for (size_t i = 0; i < list->count && i < room; ++i) {
                if (list->entries[i].processId == self)
                    handles.push_back(SOCKET(list->entries[i].handle));
            }
            return handles;
        }
    }
    for (int handle = 4; handle < lastHandle; handle += 4)
        handles.push_back(SOCKET(handle));
    return handles;
}

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
    for (const SOCKET handle : candidateHandles()) {
        sockaddr_in local {}, peer {};
        if (addresses(handle, &local, &peer) && ntohs(local.sin_port) == localPort
            && ntohs(peer.sin_port) == remotePort && peer.sin_addr.s_addr == wanted.s_addr)
            return int(handle);
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
    for (const SOCKET handle : candidateHandles()) {
        sockaddr_in local {}, peer {};
        if (addresses(handle, &local, &peer) && ntohs(local.sin_port) == localPort)
            shutdown(handle, SD_BOTH);
    }
}

} // namespace connections
