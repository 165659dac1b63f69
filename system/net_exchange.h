/// @file net_exchange.h
/// @brief The small TCP transport of every exchange with an agent of another
/// host or with the server of this host: one connection per request, the
/// whole request sent at once, the answer read until the peer closes.
///
/// The answer is carried with its length (it may hold zero bytes: a result
/// block is binary). Every exchange is bounded: a connect time-out, a
/// time-out of the whole exchange and a cap on the answer's size, read from
/// "../setting/search_option.cfg" (keys below) with generous defaults, so a
/// hung or hostile peer can neither hang a request nor exhaust its memory.

#ifndef SEARCHRUN_SYSTEM_NET_EXCHANGE_H
#define SEARCHRUN_SYSTEM_NET_EXCHANGE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The bounds of one exchange.
struct NetLimits {
  int connectTimeoutMs = 5000;        // "AGENT_CONNECT_TIMEOUT_MS"
  int exchangeTimeoutMs = 120000;     // "AGENT_EXCHANGE_TIMEOUT_MS": connect to close
  size_t maxAnswerBytes = 64u << 20;  // "AGENT_MAX_ANSWER_MB" (in MiB)
};

// The limits of this installation: the defaults above, each replaced by its
// key in "../setting/search_option.cfg" when that holds a number in range
// (time-outs 1 ms to 1 hour, answers 1 MiB to 1 GiB). Read once per run:
// systemForgetNetLimits has them read again.
NetLimits systemGetNetLimits();
void systemForgetNetLimits();
// The same limits read from the file at `path` (no caching).
NetLimits readNetLimits(const char* path);

// Results of getData and sendData.
constexpr int kNetOk = 0;
constexpr int kNetFailed = -1;    // socket, name, connect, send or receive failure; a time-out
constexpr int kNetTooLarge = -2;  // the answer passed maxAnswerBytes (reading stopped there)

// Sends `request` to host:port and reads the answer until the peer closes
// the connection. `host` is a dotted IPv4 address or a name (its first IPv4
// address). `answer` is emptied first and holds what arrived, zero bytes
// included. kNetOk, kNetFailed or kNetTooLarge.
int getData(const char* host, uint16_t port, std::string_view request, std::string& answer);
int getData(const char* host, uint16_t port, std::string_view request, std::string& answer,
            const NetLimits& limits);

// Tells, from the bytes of an answer read so far, the most bytes the whole
// answer may hold by its own form (its header may say how long the rest can
// be); 0 when the bytes already show that no answer of that form fits under
// the cap. Asked again after every piece that arrives.
using AnswerLimit = std::function<size_t(std::string_view received)>;

// getData whose reading also stops, with kNetTooLarge, as soon as the answer
// passes what `limit` allows: an answer that says it is over the cap, or a
// peer that keeps sending past its own header's length, costs no more memory
// than the header allows, however fast the peer sends.
int getData(const char* host, uint16_t port, std::string_view request, std::string& answer,
            const NetLimits& limits, const AnswerLimit& limit);

// Sends `text` to host:port and closes without reading an answer.
int sendData(const char* host, uint16_t port, std::string_view text);

// Resolves `name` (getaddrinfo) and writes its first IPv4 address in dotted
// form. False when it has none.
bool getIpByHost(const char* name, std::string& out);

#endif  // SEARCHRUN_SYSTEM_NET_EXCHANGE_H
