#pragma once

#include <string>

// The HTTP library does not hand its handlers the socket of a request; these
// find it by its addresses, so that a stalled answer can notice that the client
// went away and the shutdown can end idle keep-alive connections at once.
namespace connections {

/// The socket of the connection between 127.0.0.1:localPort and remote, or -1.
int find(int localPort, const std::string &remoteAddress, int remotePort);
/// True when the peer closed or reset the connection (nothing is consumed).
bool peerClosed(int socket);
/// Sends small writes at once instead of waiting for the peer's acknowledgement.
void setNoDelay(int socket);
/// Shuts down both directions of every accepted connection on localPort.
void shutdownAll(int localPort);

} // namespace connections
