/// @file address.h
/// @brief Host addresses and index uids: "0A000005_news$9000" names the
/// index "news" on host 10.0.0.5 served at port 9000.

#ifndef SEARCHRUN_SYSTEM_ADDRESS_H
#define SEARCHRUN_SYSTEM_ADDRESS_H

#include <cstdint>
#include <string>
#include <string_view>

// True for a strict dotted IPv4 address: four decimal numbers in 0..255
// separated by exactly three dots, each number at least one digit.
bool isValidIP(const char* text);

// The value of a strict dotted IPv4 address (isValidIP), the first number
// in the highest byte. False, `out` unchanged, for anything else.
bool ipv4Value(const char* text, uint32_t& out);

// True when every character of text is a digit or "." (so also for "").
// False for NULL.
bool checkIpAddress(const char* text);

// True when ip names this host: the configured host address is "127.0.0.1",
// or ip is "127.0.0.1", or ip equals the host address (exact text).
bool isLocalIPAddress(const char* ip);

// Writes the uid of index on host ip: eight upper-case hex digits of the
// address (127.0.0.1 when ip is not isValidIP), "_", the index name. Always
// true.
bool make_index_uid(const char* ip, const char* index, std::string& out);

// Splits a uid into dotted address, index name and port. The address part is
// decoded when the uid starts with eight hex digits followed by "_"; any other
// uid (shorter ones included) names a local index: the address is
// "127.0.0.1" and the index starts at the first character. The index ends at
// the first "$"; the port is the text after it, or, without "$", the TS query
// server port in decimal. Always true; a NULL uid gives the local address and
// an empty index.
bool systemDecodeIndexID(const char* uid, std::string& ip, std::string& index, std::string& port);
// The same without the port.
bool systemDecodeIndexID(const char* uid, std::string& ip, std::string& index);

// Longest index name: the id field of an index id file holds 7 characters.
constexpr size_t kIndexNameMax = 7;

// True when name is a plain index name that cannot leave the directory it is
// joined to: 1 to 7 characters, each a letter, a digit, "_" or "-".
bool isSafeIndexName(const char* name);

// True when `owner` is a plain owner name that cannot leave the directory
// it is joined to: at most 63 characters, an optional leading "/", then at
// least one letter, digit, "_", "." or "-", not starting with "." or "-".
bool isSafeOwnerName(std::string_view owner);

#endif  // SEARCHRUN_SYSTEM_ADDRESS_H
