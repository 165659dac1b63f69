/// @file engine_query_parts.h
/// @brief What the engine's query files share beyond engine_query.h.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_ENGINE_QUERY_PARTS_H
#define SEARCHRUN_COMPANIONS_ENGINE_ENGINE_QUERY_PARTS_H

#include <xapian.h>

#include <string>
#include <string_view>

namespace vela {

// The code points of a UTF-8 text, for matching and edit distances.
inline std::u32string codePoints(std::string_view utf8) {
  std::u32string out;
  for (Xapian::Utf8Iterator it(utf8.data(), utf8.size()), end; it != end; ++it)
    out += static_cast<char32_t>(*it);
  return out;
}

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_ENGINE_QUERY_PARTS_H
