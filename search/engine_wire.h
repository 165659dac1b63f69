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
/// A request may carry files of its command line along ("VLQ2": the body as
/// above, then u32 file count and, for each, string path and string
/// content): the run reads those paths from the request and writes results
/// to them into its answer ("VLA2": the body as above, then u32 file count
/// and, for each, string path and string content), never to disk.
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
  // The page renderer, for the page of a result searchrun hands over: its
  // arguments are the page's variables ("NAME=value", see
  // render::PageEnvironment), "--", then the renderer's words; the answer's
  // output is the page, and an answer with an error text means the service
  // made no page (the caller starts the renderer).
  kPage = 6,
};

// "vela25_0.exe", "date_range.exe", "digit_index.exe",
// "expand_vela_token_list.exe", "search_relterm.exe", "getfilelist.exe"; ""
// for a value outside the enum.
const char* toolName(Tool tool);
// The tool installed under `name`; false for any other name.
bool toolFromName(std::string_view name, Tool& tool);

// The variables of a run a page depends on: the permit key searchrun hands
// the renderer, and where the cookie that carries it goes. The only ones a
// page request carries.
constexpr const char* kPageVariables[] = {"KS_PERMIT_KEY", "SCRIPT_NAME", "HTTPS",
                                          "REQUEST_SCHEME"};
bool isPageVariable(std::string_view name);
// A page request's arguments: the page variables of `environment`
// ("NAME=value" each; the first of a name, as a lookup finds it), "--",
// then `words`.
std::vector<std::string> pageArguments(const std::vector<std::string>& environment,
                                       const std::vector<std::string>& words);
// Splits them again; false when they are not of that form (a variable of
// another name, or twice, or no "--").
bool splitPageArguments(const std::vector<std::string>& args, std::vector<std::string>& env,
                        std::vector<std::string>& words);

constexpr size_t kMaxRequestBytes = 64 * 1024;
constexpr size_t kMaxRequestArgs = 1024;
constexpr size_t kMaxAnswerBytes = 1024 * 1024;
// An answer carrying results holds as much as a result file may.
constexpr size_t kMaxFilesAnswerBytes = 65 * 1024 * 1024;
// Sent ahead of the answer: the run has begun, the client waits for its end.
constexpr char kStartedByte = 'S';

// A file of a command line carried in a request or an answer.
struct CarriedFile {
  std::string path;  // as the command line names it
  std::string bytes;
};

struct ToolRequest {
  Tool tool = Tool::kEngine;
  std::string cwd;
  std::vector<std::string> args;   // without the program name
  std::vector<CarriedFile> files;  // none: a request of the first form
};

struct ToolAnswer {
  int status = 0;  // 0 to 255
  std::string out;
  std::string err;
  std::vector<CarriedFile> files;  // results written to carried paths
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

// The answer's bytes, without the started byte, of the form that answers a
// request with files when `withFiles`; false when the status is out of
// range or the answer would exceed its limit (kMaxAnswerBytes, or
// kMaxFilesAnswerBytes with files).
bool encodeAnswer(const ToolAnswer& answer, std::string& bytes, bool withFiles = false);
Decoded decodeAnswer(std::string_view bytes, ToolAnswer& answer, size_t& used);

}  // namespace vela

#endif  // SEARCHRUN_SEARCH_ENGINE_WIRE_H
