/// @file server_protocol.h
/// @brief The text commands of the product's server and agents: a command
/// word, kCommandWordDelim, parameters between further delimiters, and
/// kCommandEndDelim (system/delimiters.h). The builders below make every
/// command the server of a host understands; searchrun sends only the two
/// class commands. Parameters are copied unchanged: a parameter holding one
/// of the delimiter sequences would change the command's meaning, so callers
/// pass only checked texts (hasProtocolDelimiter).

#ifndef SEARCHRUN_SYSTEM_SERVER_PROTOCOL_H
#define SEARCHRUN_SYSTEM_SERVER_PROTOCOL_H

#include <cstddef>
#include <string>
#include <string_view>

// Between the parameters of the user commands.
constexpr char kParameterDelim[] = "\x07\x08\x09";

// A command is at most this many bytes; a longer one is cut.
constexpr size_t kProtocolCommandMax = 2047;

// True when `text` holds a byte sequence of any delimiter of the protocol.
bool hasProtocolDelimiter(std::string_view text);

// Each builder fills `out` with the command (at most kProtocolCommandMax
// bytes).
void protocolCheckUserPassword(std::string& out, const char* p1, const char* p2, bool flag);
void protocolCheckUserValidPath(std::string& out, const char* p1, const char* path);
void protocolGetUserIndexList(std::string& out, const char* p1);
void protocolGetAllIndexPath(std::string& out);
void protocolExecuteCommand(std::string& out, const char* commandLine);
void protocolStartIndex(std::string& out, const char* program, const char* p2, const char* p3,
                        bool incremental);
void protocolGetExchangeServerList(std::string& out);
void protocolGetIndexStatusCode(std::string& out, const char* p1, const char* p2);
void protocolGetAllIndexStatus(std::string& out);
void protocolGetReadableIndexList(std::string& out, const char* p1);
void protocolGetDefaultIndexList(std::string& out, const char* p1);
void protocolGetDefaultSearchByFeildDBInfo(std::string& out, const char* p1);
void protocolGetDbColumn(std::string& out, const char* p1, const char* p2);
void protocolGetIndexListByClassName(std::string& out, const char* user, const char* className);
void protocolGetIndexListByClassID(std::string& out, const char* user, const char* classId);
void protocolGetQueryServerState(std::string& out);

// Copies the n-th token (from 1) of `text` split at `delim` into `out`, cut
// to outSize - 1 bytes. False when there is no n-th token (a text that ends
// with the delimiter has no empty last token).
bool getTokenFromString(std::string_view text, std::string_view delim, int n, std::string& out,
                        size_t outSize);

// A command as the server reads it: the word, and the text between the word
// delimiter and the end mark. False when either delimiter is missing.
bool splitProtocolCommand(std::string_view request, std::string& word, std::string& body);

#endif  // SEARCHRUN_SYSTEM_SERVER_PROTOCOL_H
