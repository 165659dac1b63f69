/// @file query_encoding.cc
/// @brief A query sent in a declared encoding, made local text.

#include "front/query_encoding.h"

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
