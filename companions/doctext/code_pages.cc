/// @file code_pages.cc
/// @brief Code page names of installations and of declared charsets.

#include "companions/doctext/code_pages.h"

#include <strings.h>

#include "system/layout.h"
#include "system/strings.h"

namespace doctext {

namespace {

struct Alias {
  const char* name;
  const char* converter;
};

// Spellings seen in documents and sent by browsers.
constexpr Alias kAliases[] = {
    {"shift_jis", "CP932"},
    {"shift-jis", "CP932"},
    {"sjis", "CP932"},
    {"x-sjis", "CP932"},
    {"ms_kanji", "CP932"},
    {"csshiftjis", "CP932"},
    {"windows-31j", "CP932"},
    {"cp932", "CP932"},
    {"ms932", "CP932"},
    {"euc-jp", "EUC-JP-MS"},
    {"x-euc-jp", "EUC-JP-MS"},
    {"eucjp", "EUC-JP-MS"},
    {"big5", "CP950"},
    {"big-5", "CP950"},
    {"x-x-big5", "CP950"},
    {"cn-big5", "CP950"},
    {"csbig5", "CP950"},
    {"cp950", "CP950"},
    {"gbk", "GBK"},
    {"gb2312", "GBK"},
    {"gb_2312-80", "GBK"},
    {"x-gbk", "GBK"},
    {"csgb2312", "GBK"},
    {"cp936", "GBK"},
    {"utf-8", "UTF-8"},
    {"utf8", "UTF-8"},
    {"unicode-1-1-utf-8", "UTF-8"},
    {"iso-8859-1", kWesternCharset},
    {"latin1", kWesternCharset},
    {"us-ascii", kWesternCharset},
    {"ascii", kWesternCharset},
    {"windows-1252", kWesternCharset},
    {"cp1252", kWesternCharset},
};

bool charsetNameChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
         c == '_';
}

}  // namespace

const char* localCodePage(int language) {
  switch (language) {
    case kLangCH:
      return "CP950";
    case kLangJP:
      return "CP932";
    case kLangGB:
      return "GBK";
    default:
      return "UTF-8";
  }
}

std::string converterName(std::string_view charset) {
  for (const Alias& a : kAliases)
    if (charset.size() == std::string_view(a.name).size() &&
        strncasecmp(charset.data(), a.name, charset.size()) == 0)
      return a.converter;
  return std::string(charset);
}

std::string declaredCharset(std::string_view html) {
  const std::string_view head = html.substr(0, kCharsetSearchBytes);
  for (size_t at = 0; at + 7 <= head.size(); ++at) {
    if (strncasecmp(head.data() + at, "charset", 7) != 0) continue;
    size_t k = at + 7;
    while (k < head.size() && (head[k] == ' ' || head[k] == '\t'))
      ++k;
    if (k == head.size() || head[k] != '=') continue;  // the word in running text
    ++k;
    while (k < head.size() &&
           (head[k] == ' ' || head[k] == '\t' || head[k] == '"' || head[k] == '\''))
      ++k;
    const size_t start = k;
    while (k < head.size() && k - start < 32 && charsetNameChar(head[k]))
      ++k;
    if (k > start) return converterName(head.substr(start, k - start));
  }
  return "";
}

}  // namespace doctext
