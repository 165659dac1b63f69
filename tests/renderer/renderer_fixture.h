/// @file renderer_fixture.h
/// @brief Helpers of the renderer tests: query output files written with the
/// query program's own writer, record lines and descriptors, a checker that
/// tells whether an answer is well-formed XML, and a strict JSON reader.

#ifndef SEARCHRUN_TESTS_RENDERER_RENDERER_FIXTURE_H
#define SEARCHRUN_TESTS_RENDERER_RENDERER_FIXTURE_H

#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "output/query_output.h"
#include "tests/test_util.h"

namespace rendertest {

constexpr const char* D = "\x12\x13\x14";

inline std::string recordLine(const std::string& owner, const std::string& index, int score,
                              int recid, const std::string& host = "127.0.0.1") {
  return host + ":20001" + D + owner + D + index + D + std::to_string(score) + D +
         std::to_string(recid) + "\n";
}

inline std::string descriptor(const std::string& owner, const std::string& desc,
                              const std::string& index, const std::string& host = "127.0.0.1") {
  return host + D + owner + D + desc + D + index + D + "20001" + D;
}

// What a query output file holds, with the values a plain search gives.
struct ResultSpec {
  std::string user = "TESSERA";
  int perPage = 10, recordCount = INT_MIN;  // INT_MIN: as many as lines
  std::string sortField = "score";
  std::string mainPage = "NONE", queryUrl = "user=TESSERA&query=report";
  std::string keyword = "report", term = "report", relTerms;
  std::string selected = std::string(" ") + D + " " + D + "all";
  std::vector<std::string> descriptors, lines;
};

// A side file as searchrun leaves it: readable and writable by its account only.
inline void writePrivate(const std::string& path, const std::string& bytes) {
  testutil::writeFile(path, bytes);
  chmod(path.c_str(), 0600);
}

// The result file as searchrun leaves it (mode 0600, whatever the umask).
inline bool writeResult(const std::string& path, const ResultSpec& s) {
  CQueryOutput out;
  if (!out.WriteOutputFile(path)) return false;
  const int n = static_cast<int>(s.lines.size());
  out.SetQueryMatchCount(n);
  out.SetRecordCount(s.recordCount == INT_MIN ? n : s.recordCount);
  out.SetSortField(s.sortField.c_str());
  out.SetSortOrder("desc");
  out.SetMainPageUrl(s.mainPage);
  out.SetRelTermOption(1);
  out.SetOutputCountPerPage(s.perPage);
  out.SetMatchMode(2);
  out.SetQueryUser(s.user);
  out.SetMultiDbCount(static_cast<int>(s.descriptors.size()));
  out.OutputSetData();
  out.OutputQueryInfo(s.queryUrl, s.keyword, s.term, s.selected, s.relTerms);
  out.OutputMultiDbInfo();
  for (size_t i = 0; i < s.descriptors.size(); ++i)
    out.OutputMultiDbURL(static_cast<int>(i), s.descriptors[i]);
  out.OutputRecordDataInfo();
  for (int i = 0; i < n; ++i)
    out.OutputRecordData(i, s.lines[i]);
  return out.CloseOutputFile() && chmod(path.c_str(), 0600) == 0;
}

// Enough XML for the renderer's answers: an optional declaration and
// DOCTYPE, one root element with balanced tags, double-quoted attributes, the
// predefined and numeric entities only, no control character XML cannot carry.
inline bool wellFormedXml(const std::string& xml, std::string& why) {
  static const std::regex bad(
      R"(&(?!(amp|lt|gt|quot|apos|#[0-9]+);)|[\x00-\x08\x0B\x0C\x0E-\x1F])");
  static const std::regex token(
      R"((<[?!][^>]*>)|<(/?)([\w:-]+)(?:\s+[\w:-]+="[^"<]*")*\s*(/?)>|[^<]+)");
  if (std::regex_search(xml, bad)) return why = "bad entity or control character", false;
  std::vector<std::string> open;
  int roots = 0;
  size_t pos = 0;
  for (std::sregex_iterator it(xml.begin(), xml.end(), token), end; it != end; ++it) {
    const std::smatch& m = *it;
    if (static_cast<size_t>(m.position()) != pos) break;  // a "<" that opens no tag
    pos += m.length();
    if (m[1].matched || !m[3].matched) {  // a declaration, or text
      const bool blank = !m[1].matched && m.str().find_first_not_of(" \n") == std::string::npos;
      if (open.empty() && !blank && (roots > 0 || !m[1].matched))
        return why = "outside the root element: " + m.str(), false;
      continue;
    }
    if (open.empty() && roots++ > 0) return why = "a second root element", false;
    if (m.length(2) == 0) {
      if (m.length(4) == 0) open.push_back(m.str(3));
    } else if (open.empty() || open.back() != m.str(3)) {
      return why = "unbalanced " + m.str(), false;
    } else {
      open.pop_back();
    }
  }
  if (pos != xml.size() || !open.empty() || roots != 1)
    return why = "bad tag, unclosed or no root element at " + std::to_string(pos), false;
  return true;
}

// A JSON value as a strict reader sees it.
struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool flag = false;
  double number = 0;
  std::string text;  // UTF-8, escapes decoded
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;  // in order

  bool has(const std::string& key) const {
    for (const auto& m : members)
      if (m.first == key) return true;
    return false;
  }
  // The member, or a null value when there is none.
  const Json& operator[](const std::string& key) const {
    static const Json kNone;
    for (const auto& m : members)
      if (m.first == key) return m.second;
    return kNone;
  }
  std::vector<std::string> keys() const {
    std::vector<std::string> out;
    for (const auto& m : members)
      out.push_back(m.first);
    return out;
  }
};

// Reads JSON as RFC 8259 has it and nothing more: one value with optional
// blanks around it, no raw control character in a string, only the escapes
// JSON defines (surrogate pairs joined), no duplicate keys.
class JsonReader {
 public:
  static bool parse(const std::string& text, Json& out, std::string& why) {
    JsonReader r(text);
    r.blanks();
    if (!r.value(out, 0)) return why = r.why_ + " at " + std::to_string(r.pos_), false;
    r.blanks();
    if (r.pos_ != text.size()) return why = "text after the value", false;
    return true;
  }

 private:
  explicit JsonReader(const std::string& t) : t_(t) {}
  bool fail(const char* why) {
    why_ = why;
    return false;
  }
  void blanks() {
    while (pos_ < t_.size() &&
           (t_[pos_] == ' ' || t_[pos_] == '\n' || t_[pos_] == '\r' || t_[pos_] == '\t'))
      ++pos_;
  }
  bool literal(const char* word) {
    const std::string w(word);
    if (t_.compare(pos_, w.size(), w) != 0) return fail("bad literal");
    pos_ += w.size();
    return true;
  }
  static void utf8(uint32_t cp, std::string& out) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  bool hex4(uint32_t& v) {
    if (t_.size() - pos_ < 4) return fail("short escape");
    v = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = t_[pos_++];
      const int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (d < 0) return fail("bad hex digit");
      v = v * 16 + static_cast<uint32_t>(d);
    }
    return true;
  }
  bool string(std::string& out) {
    if (t_[pos_] != '"') return fail("no string");
    ++pos_;
    for (;;) {
      if (pos_ >= t_.size()) return fail("unterminated string");
      const auto c = static_cast<unsigned char>(t_[pos_++]);
      if (c == '"') return true;
      if (c < 0x20) return fail("raw control character");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= t_.size()) return fail("unterminated escape");
      const char e = t_[pos_++];
      const std::string simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
      if (simple.find(e) != std::string::npos) {
        out += meaning[simple.find(e)];
        continue;
      }
      if (e != 'u') return fail("bad escape");
      uint32_t cp;
      if (!hex4(cp)) return false;
      if (cp >= 0xD800 && cp <= 0xDBFF) {
        uint32_t low;
        if (t_.compare(pos_, 2, "\\u") != 0) return fail("lone surrogate");
        pos_ += 2;
        if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return fail("bad surrogate pair");
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
        return fail("lone surrogate");
      }
      utf8(cp, out);
    }
  }
  bool value(Json& v, int depth) {
    if (depth > 64) return fail("too deep");
    if (pos_ >= t_.size()) return fail("no value");
    const char c = t_[pos_];
    if (c == 'n') return literal("null");
    if (c == 't' || c == 'f') {
      v.kind = Json::Kind::kBool;
      v.flag = c == 't';
      return literal(c == 't' ? "true" : "false");
    }
    if (c == '"') {
      v.kind = Json::Kind::kString;
      return string(v.text);
    }
    if (c == '[' || c == '{') {
      const bool object = c == '{';
      v.kind = object ? Json::Kind::kObject : Json::Kind::kArray;
      ++pos_;
      blanks();
      if (pos_ < t_.size() && t_[pos_] == (object ? '}' : ']')) return ++pos_, true;
      for (;;) {
        blanks();
        Json item;
        if (object) {
          std::string key;
          if (pos_ >= t_.size() || !string(key)) return fail("bad key");
          if (v.has(key)) return fail("duplicate key");
          blanks();
          if (pos_ >= t_.size() || t_[pos_++] != ':') return fail("no colon");
          blanks();
          if (!value(item, depth + 1)) return false;
          v.members.emplace_back(key, std::move(item));
        } else {
          if (!value(item, depth + 1)) return false;
          v.items.push_back(std::move(item));
        }
        blanks();
        if (pos_ >= t_.size()) return fail("unterminated");
        const char next = t_[pos_++];
        if (next == (object ? '}' : ']')) return true;
        if (next != ',') return fail("no comma");
      }
    }
    static const std::regex number(R"(-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
    std::smatch m;
    const std::string rest = t_.substr(pos_, 40);
    if (!std::regex_search(rest, m, number, std::regex_constants::match_continuous))
      return fail("bad value");
    v.kind = Json::Kind::kNumber;
    v.number = std::stod(m.str());
    pos_ += m.length();
    return true;
  }

  const std::string& t_;
  size_t pos_ = 0;
  std::string why_;
};

}  // namespace rendertest

#endif  // SEARCHRUN_TESTS_RENDERER_RENDERER_FIXTURE_H
