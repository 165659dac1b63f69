/// @file engine_wire.h
/// @brief The bytes between the thin search programs and the engine service:
/// a request (which program, the client's working directory, its arguments)
/// and its answer (exit status, standard output, standard error).
///
///   request  "VLQ1", u32 body size, body:
///            u8 tool, string cwd, u32 argument count, that many strings
///   answer   the byte 'S' once a worker has taken the request up, then
///            "VLA1", u32 body size, body: u8 exit status, string out, string err
///
/// A string is a u32 byte count and the bytes; integers are little endian.
/// The working directory and the arguments come from a path and an argv, so
/// none holds a NUL byte. Neither side trusts the other's sizes: a request is
/// at most kMaxRequestBytes, an answer at most kMaxAnswerBytes, all told.

#ifndef SEARCHRUN_SEARCH_ENGINE_WIRE_H
#define SEARCHRUN_SEARCH_ENGINE_WIRE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

// The search programs, by the name each is installed and started under.
enum class Tool : uint8_t {
  kEngine = 1,
  kDateRange = 2,
  kDigitIndex = 3,
  kExpandTokens = 4,
  kRelTerm = 5,
};

// "vela25_0.exe", "date_range.exe", "digit_index.exe",
// "expand_vela_token_list.exe", "search_relterm.exe"; "" for a value outside
// the enum.
const char* toolName(Tool tool);
// The tool installed under `name`; false for any other name.
bool toolFromName(std::string_view name, Tool& tool);

constexpr size_t kMaxRequestBytes = 64 * 1024;
constexpr size_t kMaxRequestArgs = 1024;
constexpr size_t kMaxAnswerBytes = 1024 * 1024;
// Sent ahead of the answer: the run has begun, the client waits for its end.
constexpr char kStartedByte = 'S';

struct ToolRequest {
  Tool tool = Tool::kEngine;
  std::string cwd;
  std::vector<std::string> args;  // without the program name
};

struct ToolAnswer {
  int status = 0;  // 0 to 255
  std::string out;
  std::string err;
};

enum class Decoded {
  kNeedMore,  // a prefix of a well-formed message within its size limit
  kBad,       // can never become one
  kDone,      // a whole message; `used` says how many bytes it took
};

// The request's bytes; false (nothing usable) when it would exceed
// kMaxRequestBytes, has too many arguments or holds a NUL byte.
bool encodeRequest(const ToolRequest& request, std::string& bytes);
Decoded decodeRequest(std::string_view bytes, ToolRequest& request, size_t& used);

// The answer's bytes, without the started byte; false when the status is out
// of range or the answer would exceed kMaxAnswerBytes.
bool encodeAnswer(const ToolAnswer& answer, std::string& bytes);
Decoded decodeAnswer(std::string_view bytes, ToolAnswer& answer, size_t& used);

}  // namespace vela

#endif  // SEARCHRUN_SEARCH_ENGINE_WIRE_H
