/// @file query_encoding.cc
/// @brief A query sent in a declared encoding, made local text.

#include "front/query_encoding.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cgi/conversion_hooks.h"
#include "front/request_state.h"

bool transferCodeToLocalPage(const std::string& text, const char* encoding, std::string& out) {
  static const char* const kSources[] = {"UTF-8", "SJIS", "GBK", "BIG5", "UTF-16BE"};
  const char* target = localCodePageName(langFlag);
  CharsetConverterFn convert = localPageConverter();
  if (!target || !convert || !encoding || text.empty()) return false;
  bool known = false;
  for (const char* name : kSources)
    known = known || std::strcmp(name, encoding) == 0;
  if (!known) return false;
  // Four output bytes per input byte hold every conversion between these
  // code pages.
  std::vector<char> buffer(text.size() * 4 + 1, '\0');
  if (convert(text.c_str(), encoding, buffer.data(), target, static_cast<int>(buffer.size())) !=
      0) {
    return false;
  }
  out.assign(buffer.data());
  return true;
}

std::vector<unsigned> unholdableCharacters(const std::string& sent, const std::string& local) {
  std::vector<unsigned> found;
  for (size_t at = local.find("&#"); at != std::string::npos; at = local.find("&#", at + 2)) {
    const size_t digits = at + 2;
    size_t end = digits;
    unsigned long code = 0;
    while (end < local.size() && end - digits < 7 && local[end] >= '0' && local[end] <= '9')
      code = code * 10 + static_cast<unsigned>(local[end++] - '0');
    if (end == digits || end >= local.size() || local[end] != ';') continue;
    if (sent.find(local.substr(at, end + 1 - at)) != std::string::npos) continue;
    if (std::find(found.begin(), found.end(), code) == found.end())
      found.push_back(static_cast<unsigned>(code));
  }
  return found;
}

std::string codePointNames(const std::vector<unsigned>& codePoints) {
  std::string names;
  for (const unsigned code : codePoints) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", code);
    names += (names.empty() ? "" : ", ") + std::string(buf);
  }
  return names;
}
