/// @file result_file.h
/// @brief The result files that the search programs write: the binout file
/// read by the query back-end, and the text result of a limited search.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_RESULT_FILE_H
#define SEARCHRUN_COMPANIONS_ENGINE_RESULT_FILE_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

class CodePage;

struct Hit {
  uint32_t recid;  // from 1
  uint32_t score;  // at least 1
};

// Largest record id that the 4-byte integer form carries; hits above it are
// left out of every result file.
constexpr uint32_t kMaxRecordId = 268435455;
// The reader keeps this many bytes of the matched string.
constexpr size_t kMaxMatchedBytes = 4095;

// Appends `value` as a 7-bit-group integer: least significant 7 bits first,
// 0x80 set on every byte but the last.
void appendUInt7(std::string& out, uint32_t value);

// The matched string as it can stand in a file header: line breaks and NUL
// bytes become blanks, and the text is cut to kMaxMatchedBytes without
// splitting a character of the code page.
std::string headerMatchedString(std::string_view matched, const CodePage& cp);

// A binout file with the text header: matched string, line feed, record
// count, then score and record id of each hit. `matched` must already be
// cleaned with headerMatchedString.
std::string encodeBinout(std::string_view matched, const std::vector<Hit>& hits);

// The text result: the matched string, the number of hits, then one line
// "score recid" per hit.
std::string encodeTextResult(std::string_view matched, const std::vector<Hit>& hits);

// Mode of the result files: only the account of the run reads them.
constexpr unsigned kResultFileMode = 0600;

// Writes `bytes` to `path`: into it, when it is the empty regular file that
// the back-end claimed for the result (of this account, with one name and
// the mode of a result), whose reader waits for the run's answer; otherwise
// through a fresh file of a random name beside it (path + ".part" + 20
// digits, created exclusively) that is renamed over it, so that a reader
// never sees half a file. Returns false when the file cannot be written;
// `path` is then as it was (a claim still empty) and the fresh file removed.
// `mayCreate`, when given, is asked before a result is made where no claim
// stands: a client that gave the run up may have removed its claim.
bool writeFileAtomic(const std::string& path, std::string_view bytes,
                     const std::function<bool()>& mayCreate = {});

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_RESULT_FILE_H
