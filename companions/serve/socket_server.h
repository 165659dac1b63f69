/// @file socket_server.h
/// @brief The socket side shared by the system's daemons: accepting
/// clients, reading their requests within a size cap and a time limit,
/// handing whole requests to a small pool of workers, and answering. What a
/// request looks like (its framing) and what it means (its handler) belong
/// to each daemon.
///
/// One thread at a time reads every connection (poll), so a client that
/// stalls, trickles or sends garbage holds no worker: it is dropped at the
/// cap or the time limit. The thread that reads a whole request answers it
/// itself when a worker's place is free, and another takes over reading. A
/// connection the server cannot take (too many clients, a full queue, too
/// many bytes waiting, shutting down) is closed unanswered, which tells the
/// client the same at once. One request per connection: the answer ends
/// with the connection.
///
/// Connections that send nothing cannot keep others out: one that is silent
/// past a short first deadline is dropped, one client address holds at most
/// a few connections while they send, and when every place is taken a
/// newcomer from an address that holds fewer takes the place of the oldest
/// connection of the address that holds the most.

#ifndef SEARCHRUN_COMPANIONS_SERVE_SOCKET_SERVER_H
#define SEARCHRUN_COMPANIONS_SERVE_SOCKET_SERVER_H

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace serve {

enum class Framing {
  kNeedMore,  // a prefix of a request that may still become whole
  kBad,       // can never become one: the client is dropped unanswered
  kDone,      // exactly one whole request
};

// Says what `bytes`, everything a client sent so far, is. `fresh` is where
// the bytes of the latest read begin, so that a framer looking for an end
// mark need not scan the whole request again on every read.
using Framer = std::function<Framing(std::string_view bytes, size_t fresh)>;

// Answers one whole request; the bytes returned are sent and the connection
// closed. `clientThere` tells whether the client still waits.
using Handler = std::function<std::string(const std::string& request,
                                          const std::function<bool()>& clientThere)>;

// Whether a client just accepted on `fd` may be served.
using PeerCheck = std::function<bool(int fd)>;

// Called about once a second from the reading thread; serving ends when it
// answers false.
using Housekeeping = std::function<bool()>;

struct ServerConfig {
  std::string program = "server";  // names the log lines
  size_t workers = 4;
  // A request must arrive whole within this time of its connection.
  int requestTimeoutMs = 2000;
  // A client that sends more than this before its request is whole is dropped.
  size_t maxRequestBytes = 64 * 1024;
  // A connection that has sent nothing this long after it was accepted is
  // dropped (the whole request still has requestTimeoutMs).
  int firstByteTimeoutMs = 1000;
  // Connections still sending their request; more are closed at once, save
  // that a newcomer may take the place of one from a crowding address.
  size_t maxReading = 256;
  // Connections still sending their request from one IP address; more from
  // it are closed at once. Clients of a Unix socket have no address and
  // share none of this.
  size_t maxReadingPerAddress = 16;
  // Whole requests waiting for a worker; more are closed at once.
  size_t maxQueued = 64;
  // Bytes of requests held for all clients together, read or waiting for a
  // worker; a client that would pass it is closed. Bounds the memory a
  // crowd of clients near the size cap can take.
  size_t maxHeldBytes = 64u << 20;
  // Time an answer may wait for a client that does not read it.
  int answerTimeoutMs = 5000;
  // Sent as soon as a worker takes a request up (empty: nothing): tells a
  // client that may give up and do the work itself that it has begun.
  std::string startedBytes;
  // How the drop report names clients the peer check turned away.
  std::string refusedPeers = "refused";

  Framer framer;              // required
  Handler handler;            // required
  PeerCheck peerCheck;        // unset: every client is served
  Housekeeping housekeeping;  // unset: none
};

// Writes one line, with a time stamp and the program's name, to standard
// error.
void logLine(const std::string& program, const std::string& text);

// Serves the listening socket `listenFd` (owned from here on) until SIGTERM,
// SIGINT or SIGHUP arrives or the housekeeping answers false, then closes
// it (so clients turn away at once) and lets the workers finish the
// requests they have taken up. Requests not yet taken up are dropped. The
// calling thread is one of the `workers` + 1 that take turns (handlers and
// housekeeping run on any of them, the housekeeping never on two at once);
// the signals are blocked in every thread of the process from the call on
// (children started later inherit that mask).
// Returns 0, or 1 when the signals or the workers could not be set up.
int serve(int listenFd, const ServerConfig& config);

}  // namespace serve

#endif  // SEARCHRUN_COMPANIONS_SERVE_SOCKET_SERVER_H
