/// @file config.cc
/// @brief key=value configuration files.

#include "system/config.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "system/kept_files.h"
#include "system/lines.h"
#include "system/numbers.h"
#include "system/secure_file.h"

bool parser_token_string(const char* line, std::string& key, std::string& value) {
  key.clear();
  value.clear();
  if (line == nullptr) return false;
  const char* eq = strchr(line, '=');
  if (eq == nullptr) return false;
  key.assign(line, std::min<size_t>(eq - line, kCfgKeyMax));
  value.assign(eq + 1, strnlen(eq + 1, kCfgValueMax));
  return true;
}

namespace {

// Calls `line` for each line of the file at `path` (lines of at most
// `maxChars` characters) until it returns false. A small file is read once
// and kept while it is unchanged: the engine service and the steps of a
// request read the same few settings files again and again. False when the
// file cannot be opened.
template <class LineFn>
bool forEachCfgLine(const char* path, size_t maxChars, LineFn&& line) {
  if (const auto text = keptFileText(path)) {
    std::string copy;
    forEachBoundedLine(*text, maxChars, [&](std::string_view piece) {
      copy.assign(piece);
      return line(copy);
    });
    return true;
  }
  if (errno != EFBIG) return false;
  std::unique_ptr<FILE, FileCloser> in(fopenRegular(path));
  if (!in) return false;
  std::string copy;
  while (readBoundedLine(in.get(), maxChars, copy))
    if (!line(copy)) break;
  return true;
}

}  // namespace

bool findCfgValue(const char* path, const char* key, size_t maxLineChars, std::string& value) {
  value.clear();
  if (path == nullptr || key == nullptr) return false;
  bool found = false;
  std::string k, v;
  forEachCfgLine(path, maxLineChars, [&](const std::string& line) {
    if (!line.empty() && line[0] == '#') return true;
    parser_token_string(line.c_str(), k, v);
    if (k != key) return true;
    value = v;
    found = true;
    return false;
  });
  return found;
}

bool readCfgValues(const char* path, std::map<std::string, std::string>& values) {
  values.clear();
  if (path == nullptr) return false;
  std::string k, v;
  return forEachCfgLine(path, kCfgLineMax, [&](const std::string& line) {
    if (!line.empty() && line[0] != '#' && parser_token_string(line.c_str(), k, v))
      values.emplace(k, v);
    return true;
  });
}

namespace {

bool decimalOf(std::string_view text, int64_t min, int64_t max, int64_t& out) {
  const size_t first = text.find_first_not_of(" \t\r");
  const size_t last = text.find_last_not_of(" \t\r");
  if (first == std::string_view::npos) return false;
  return parseDecimal(text.substr(first, last - first + 1), min, max, out);
}

}  // namespace

int64_t cfgDecimalOf(std::string_view text, int64_t min, int64_t max, int64_t fallback) {
  int64_t value = 0;
  return decimalOf(text, min, max, value) ? value : fallback;
}

bool cfgDecimalValue(const char* path, const char* key, int64_t min, int64_t max, int64_t& out) {
  std::string text;
  return findCfgValue(path, key, kCfgLineMax, text) && decimalOf(text, min, max, out);
}

std::string getCfgFileTokenValue(const char* path, const char* key, size_t size) {
  std::string value;
  if (size == 0 || !findCfgValue(path, key, kCfgLineMax, value)) return "";
  if (value.size() > size - 1) value.resize(size - 1);
  return value;
}

namespace {

bool hasLineBreak(const char* text) {
  return strpbrk(text, "\r\n") != nullptr;
}

bool writableKeyValue(const char* key, const char* value) {
  if (key == nullptr || value == nullptr) return false;
  const size_t keyLen = strlen(key);
  return keyLen > 0 && keyLen <= kCfgKeyMax && key[0] != '#' && strchr(key, '=') == nullptr &&
         !hasLineBreak(key) && strlen(value) <= kCfgValueMax && !hasLineBreak(value);
}

// The whole new content of the file.
std::string rewriteLines(FILE* in, const char* key, const char* value) {
  std::string out, line, rest, k, v;
  bool replaced = false;
  while (readBoundedLine(in, kCfgLineMax, line, &rest)) {
    const bool comment = !line.empty() && line[0] == '#';
    if (!comment && parser_token_string(line.c_str(), k, v) && k == key) {
      out.append(k).append("=").append(value).append("\n");
      replaced = true;
    } else {
      out.append(line).append(rest).append("\n");
    }
  }
  if (!replaced) out.append(key).append("=").append(value).append("\n");
  return out;
}

}  // namespace

bool setCfgFileTokenValue(const char* path, const char* key, const char* value) {
  if (path == nullptr || !writableKeyValue(key, value)) return false;
  std::unique_ptr<FILE, FileCloser> in(fopenRegular(path));
  if (!in) return false;
  struct stat st;
  if (fstat(fileno(in.get()), &st) != 0) return false;
  const std::string content = rewriteLines(in.get(), key, value);
  if (ferror(in.get())) return false;
  in.reset();

  std::string tmp = std::string(path) + ".$$$XXXXXX";
  const int fd = mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok = writeAll(fd, content) && fchmod(fd, st.st_mode & 07777) == 0 && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(tmp.c_str(), path) == 0;
  if (!ok) unlink(tmp.c_str());
  return ok;
}
