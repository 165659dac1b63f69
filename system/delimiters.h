/// @file delimiters.h
/// @brief The three-byte delimiters of the system's blocks, requests and
/// files, as C strings (none holds a zero byte).

#ifndef SEARCHRUN_SYSTEM_DELIMITERS_H
#define SEARCHRUN_SYSTEM_DELIMITERS_H

#include <cstddef>
#include <string_view>

constexpr size_t kDelimSize = 3;
// Between the fields of a record, a descriptor, a request.
constexpr char kFieldDelim[] = "\x12\x13\x14";
// At the end of a group (a section of a result block, a search-by-field line).
constexpr char kGroupEndDelim[] = "\x15\x16\x17";
// After a text value (a sort key of a result block).
constexpr char kValueDelim[] = "\x12\x14\x16";
// After a command word, and at the end of a command, of the server protocol.
constexpr char kCommandWordDelim[] = "\x04\x05\x06";
constexpr char kCommandEndDelim[] = "\x18\x19\x1A";


// The command delimiters as views of their three bytes, for the builders and
// readers of commands.
constexpr std::string_view kFieldView{kFieldDelim, kDelimSize};
constexpr std::string_view kGroupEndView{kGroupEndDelim, kDelimSize};
constexpr std::string_view kCommandWordView{kCommandWordDelim, kDelimSize};
constexpr std::string_view kCommandEndView{kCommandEndDelim, kDelimSize};

#endif  // SEARCHRUN_SYSTEM_DELIMITERS_H
