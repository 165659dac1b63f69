/// @file listeners.h
/// @brief Listening sockets of the system's daemons and the checks they put
/// on a client before reading its request.

#ifndef SEARCHRUN_COMPANIONS_SERVE_LISTENERS_H
#define SEARCHRUN_COMPANIONS_SERVE_LISTENERS_H

#include <cstdint>
#include <string>
#include <vector>

#include "companions/serve/socket_server.h"

namespace serve {

// A non-blocking TCP socket listening on address:port (a dotted IPv4
// address; port 1 to 65535), with SO_REUSEADDR so that a restarted daemon
// need not wait for the connections of the one before to time out. -1, with
// the reason in `error`, on failure.
int listenTcp(const std::string& address, uint16_t port, std::string& error);

// True when the client on the Unix socket `fd` runs as this process's
// effective user (its credentials, SO_PEERCRED).
bool samePeerAccount(int fd);

// True when `text` is a dotted IPv4 address; its 32-bit value (network
// order) in `out`.
bool parseIPv4(const std::string& text, uint32_t& out);

// A check that serves only TCP clients whose address is one of `addresses`
// (values from parseIPv4).
PeerCheck addressAllowList(std::vector<uint32_t> addresses);

}  // namespace serve

#endif  // SEARCHRUN_COMPANIONS_SERVE_LISTENERS_H
