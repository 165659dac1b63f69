/// @file sign_in_backoff.h
/// @brief Slows down whoever guesses permit keys: after a few wrong keys from
/// one client address, that address may not try again for a while, a while
/// that doubles with every further round of wrong keys.

#ifndef SEARCHRUN_ACCESS_SIGN_IN_BACKOFF_H
#define SEARCHRUN_ACCESS_SIGN_IN_BACKOFF_H

#include <ctime>
#include <string>

struct BackoffPolicy {
  unsigned failuresAllowed = 5;  // wrong keys within the window before a back-off
  unsigned windowSeconds = 600;
  unsigned firstDelaySeconds = 60;  // doubled for each back-off the record remembers
  unsigned longestDelaySeconds = 3600;
  // Records kept at most; the addresses past them share one record, so that
  // a crowd of addresses neither fills the directory nor escapes counting.
  unsigned maxRecords = 1024;
};

// The name of the record of a client address (REMOTE_ADDR): "v4-" and eight
// hex digits for IPv4, "v6-" and sixteen for the /64 network of an IPv6
// address (one host usually holds the whole network), each followed by
// ".ksb"; "other.ksb" for text that is no address. "" for an absent or empty
// address: the request did not come through the web server.
std::string backoffRecordName(const char* address);

// The records of one directory (the permit directory), one small file per
// address:
//   "KSB1 <failures> <window start> <blocked until> <back-offs>\n"
// Every read and change holds an exclusive lock on the file. A record is
// created under a fresh random name and linked into place, never written
// through a link, and is deleted once it has been quiet for
// windowSeconds + longestDelaySeconds past its last event.
class SignInBackoff {
 public:
  explicit SignInBackoff(std::string dir, BackoffPolicy policy = BackoffPolicy());

  // Seconds the address must still wait at `now` before it may try a key;
  // 0 when it may. An address without a record of its own waits as the
  // shared record says. A record that exists but cannot be read or is not
  // the server account's own counts as a back-off of firstDelaySeconds:
  // guessing must not go on because the record was tampered with.
  long waitSeconds(const char* address, time_t now) const;
  // Counts one wrong key from the address at `now`, starting a back-off when
  // it is the failuresAllowed-th of the window. False when the record cannot
  // be written.
  bool recordFailure(const char* address, time_t now);
  // Deletes the records quiet long enough at `now` (and damaged ones); the
  // number deleted, or -1 when the directory cannot be read. Runs whenever a
  // new address is recorded.
  int expire(time_t now);

 private:
  struct Record {
    long long failures = 0;
    long long windowStart = 0;
    long long blockedUntil = 0;
    long long backoffs = 0;
  };
  static bool parse(const std::string& text, Record& record);
  static std::string format(const Record& record);
  bool expired(const Record& record, time_t now) const;
  // The name to count `address` under: its own, or the shared one when the
  // directory holds maxRecords records already.
  std::string nameForNewRecord(const std::string& own, time_t now);
  // Deletes the expired and damaged records not in use; `kept` counts the
  // others. The number deleted, or -1.
  int sweep(time_t now, int& kept);

  std::string m_dir;
  BackoffPolicy m_policy;
};

#endif  // SEARCHRUN_ACCESS_SIGN_IN_BACKOFF_H
