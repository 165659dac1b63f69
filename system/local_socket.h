/// @file local_socket.h
/// @brief The Unix sockets an installation's own programs talk over: one
/// listened on by a single account, and the check that a client runs as it.

#ifndef SEARCHRUN_SYSTEM_LOCAL_SOCKET_H
#define SEARCHRUN_SYSTEM_LOCAL_SOCKET_H

#include <sys/types.h>

#include <string>

// A listening Unix socket at `path`, reachable by this account only (bound
// under umask 0077). A socket left there by a process before is replaced;
// anything else at the path is left alone. -1 with errno on failure:
// ENAMETOOLONG for a path no socket address holds, ENOTSOCK when something
// other than a socket stands there.
int listenLocal(const std::string& path, bool nonBlocking);

// True when the client on the Unix socket `fd` runs as this process's
// effective user (its credentials, SO_PEERCRED).
bool peerIsThisAccount(int fd);
// The client's process id when peerIsThisAccount and the kernel names it;
// 0 otherwise.
pid_t peerOfThisAccount(int fd);

#endif  // SEARCHRUN_SYSTEM_LOCAL_SOCKET_H
