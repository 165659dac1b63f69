/// @file file_name_filter.cc
/// @brief The file-name window check with "*" and "?" wildcards.

#include "search/file_name_filter.h"

#include <cctype>

#include <vector>

namespace {

struct NameParts {
  std::string_view base;
  std::string_view ext;
  bool hasExt = false;
};

NameParts splitAtLastDot(std::string_view text) {
  const size_t dot = text.rfind('.');
  if (dot == std::string_view::npos) return {text, {}, false};
  return {text.substr(0, dot), text.substr(dot + 1), true};
}

bool sameExtension(const NameParts& name, const NameParts& bound) {
  if (!name.hasExt || name.ext.size() != bound.ext.size()) return false;
  for (size_t i = 0; i < name.ext.size(); ++i) {
    const auto a = static_cast<unsigned char>(name.ext[i]);
    const auto b = static_cast<unsigned char>(bound.ext[i]);
    if (std::tolower(a) != std::tolower(b)) return false;
  }
  return true;
}

// The pieces of a bound between its runs of "*"; a bound without "*" is one
// piece. `starred` tells whether there was any "*".
std::vector<std::string_view> splitAtStars(std::string_view bound, bool& starred) {
  std::vector<std::string_view> pieces;
  starred = false;
  size_t start = 0;
  for (;;) {
    const size_t star = bound.find('*', start);
    if (star == std::string_view::npos) break;
    starred = true;
    pieces.push_back(bound.substr(start, star - start));
    start = bound.find_first_not_of('*', star);
    if (start == std::string_view::npos) start = bound.size();
  }
  pieces.push_back(bound.substr(start));
  return pieces;
}

int compareWhole(std::string_view text, std::string_view piece) {
  return wildcardCompare(text, piece, piece.size());
}

// 1 when the name's base sorts above the upper bound's base, else 0.
int aboveUpperBound(std::string_view base, std::string_view bound) {
  bool starred = false;
  const std::vector<std::string_view> pieces = splitAtStars(bound, starred);
  size_t cursor = 0;
  for (size_t i = 0; i + 1 < pieces.size(); ++i) {
    const int cmp = compareWhole(base.substr(cursor), pieces[i]);
    if (cmp != 0) return cmp > 0 ? 1 : 0;
    const size_t next = wildcardSearch(base, cursor, pieces[i + 1]);
    if (next == std::string_view::npos)
      return compareWhole(base.substr(cursor), pieces[i + 1]) > 0 ? 1 : 0;
    cursor = next;
  }
  const std::string_view last = pieces.back();
  if (starred && last.empty()) return 0;
  return compareWhole(base.substr(cursor), last) > 0 ? 1 : 0;
}

}  // namespace

int wildcardCompare(std::string_view text, std::string_view pattern, size_t n) {
  if (n > pattern.size()) n = pattern.size();
  for (size_t i = 0; i < n; ++i) {
    const bool ended = i >= text.size();
    if (pattern[i] == '?') {
      if (ended) return -1;
      continue;
    }
    const auto t = static_cast<signed char>(ended ? '\0' : text[i]);
    const auto p = static_cast<signed char>(pattern[i]);
    if (t != p) return t < p ? -1 : 1;
  }
  return 0;
}

size_t wildcardSearch(std::string_view text, size_t from, std::string_view pattern) {
  if (from > text.size()) return std::string_view::npos;
  for (size_t p = from; p + pattern.size() <= text.size(); ++p) {
    if (wildcardCompare(text.substr(p), pattern, pattern.size()) == 0) return p;
  }
  return std::string_view::npos;
}

int checkFileName(std::string_view name, std::string_view beginBound, std::string_view endBound) {
  const NameParts file = splitAtLastDot(name);
  const NameParts lower = splitAtLastDot(beginBound);
  const NameParts upper = splitAtLastDot(endBound);
  if (lower.hasExt && !sameExtension(file, lower)) return -2;
  if (upper.hasExt && !sameExtension(file, upper)) return 2;

  bool starred = false;
  const std::string_view first = splitAtStars(lower.base, starred).front();
  if (compareWhole(file.base, first) < 0) return -1;
  return aboveUpperBound(file.base, upper.base);
}
