/// @file query_normalize.cc
/// @brief The four query rewrites and the helpers they share.

#include "front/query_normalize.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "front/query_option.h"
#include "system/config.h"
#include "system/layout.h"
#include "system/lines.h"
#include "system/log.h"
#include "system/secure_file.h"
#include "system/strings.h"

namespace {

constexpr size_t kQueryTextMax = kOrgQuerySize - 1;
constexpr size_t kRetQueryTextMax = kRetQuerySize - 1;
// queryStringChangeSpaceToBool writes at most one operator and one character
// per step and stops once this many bytes are written.
constexpr size_t kSpaceToBoolStop = kOrgQuerySize - 10;
constexpr size_t kUserTableLineMax = 126;

bool hasFullWidthForms(int language) {
  return language == kLangCH || language == kLangJP || language == kLangGB;
}

// The rewrite's result, never longer than its limit: a unit (character,
// operator) that does not fit whole is refused and the rewrite stops there.
class BoundedText {
 public:
  explicit BoundedText(size_t limit) : limit_(limit) {}
  bool put(const char* bytes, size_t n) {
    if (text_.size() + n > limit_) return false;
    text_.append(bytes, n);
    return true;
  }
  bool put(char c) { return put(&c, 1); }
  size_t size() const { return text_.size(); }
  // Replaces the query buffer's text with the result.
  void storeIn(char* query) const {
    std::memcpy(query, text_.data(), text_.size());
    query[text_.size()] = '\0';
  }

 private:
  size_t limit_;
  std::string text_;
};

// The query text, read up to its terminator or the end of its buffer; held
// terminated so that look-ahead never leaves it.
std::string readQuery(const char* query, size_t size = kOrgQuerySize) {
  return std::string(query, strnlen(query, size));
}

// Length of the character at text[i] in the installation's code page, never
// past the end of the text.
size_t charLength(const std::string& text, size_t i, int language) {
  return characterLength(text.data() + i, text.size() - i, language);
}

// Length of the longest prefix of the first `length` bytes of `text` that
// holds at most `max` bytes of whole characters.
size_t wholeCharPrefix(const char* text, size_t length, size_t max, int language) {
  size_t keep = 0;
  while (keep < length) {
    const size_t n = characterLength(text + keep, length - keep, language);
    if (keep + n > max) break;
    keep += n;
  }
  return keep;
}

bool startsWith(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

struct UserTable {
  bool attempted = false;
  std::vector<std::pair<char, std::string>> entries;
};

UserTable& userTable() {
  static UserTable table;
  return table;
}

void loadUserTable(UserTable& table) {
  table.attempted = true;
  std::unique_ptr<FILE, FileCloser> in(fopenRegular(kH2FUserTablePath));
  if (!in) {
    ReportLog("Open H2F.user File : Fail\n");
    return;
  }
  ReportLog("Open H2F.user File : Success\n");
  std::string line;
  while (static_cast<int>(table.entries.size()) < kH2FUserTableMax &&
         readBoundedLine(in.get(), kUserTableLineMax, line)) {
    // A line break is no part of a replacement.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || line.size() < 4 || line[1] != '=') continue;
    table.entries.emplace_back(line[0], line.substr(2, 2));
  }
  ReportLog("Read H2F.user File : %d Terms\n", static_cast<int>(table.entries.size()));
}

// Splits at every "," that is a character of its own; an empty text has no
// terms, "a," has two.
void splitTerms(const char* text, int language, std::vector<std::string>& terms) {
  if (*text == '\0') return;
  for (;;) {
    const char* comma = findFirstChar(text, ',', language);
    if (comma == nullptr) {
      terms.emplace_back(text);
      return;
    }
    terms.emplace_back(text, comma - text);
    text = comma + 1;
  }
}

bool switchedOn(const char* cfgPath, const char* key) {
  const std::string value = getCfgFileTokenValue(cfgPath, key, 1024);
  return !value.empty() && value[0] == 'Y';
}

}  // namespace

int check_half_word(unsigned char c) {
  if (c >= 'a' && c <= 'z') return c - 'a';
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= '0' && c <= '9') return 100 + (c - '0');
  return -1;
}

int check_full_lowser_english_word(unsigned char lead, unsigned char trail, int language) {
  if (trail == 0) return -1;
  switch (language) {
    case kLangJP:
      if (lead == 0x82 && trail >= 0x81 && trail <= 0x9A) return trail - 0x81;
      break;
    case kLangCH:
      if (lead == 0xA2 && trail >= 0xE9 && trail <= 0xFE) return trail - 0xE9;
      if (lead == 0xA3 && trail >= 0x40 && trail <= 0x43) return 22 + (trail - 0x40);
      break;
    case kLangGB:
      if (lead == 0xA3 && trail >= 0xE1 && trail <= 0xFA) return trail - 0xE1;
      break;
    default:
      break;
  }
  return -1;
}

unsigned char get_full_uppercase(int code, int part, int language) {
  // Lead byte and first trail byte of "A" and of "0" per code page.
  struct Forms {
    unsigned char lead, letterA, digit0;
  };
  Forms forms;
  switch (language) {
    case kLangJP:
      forms = {0x82, 0x60, 0x4F};
      break;
    case kLangCH:
      forms = {0xA2, 0xCF, 0xAF};
      break;
    case kLangGB:
      forms = {0xA3, 0xC1, 0xB0};
      break;
    default:
      return 0;
  }
  int trail;
  if (code >= 0 && code <= 25) {
    trail = forms.letterA + code;
  } else if (code >= 100 && code <= 109) {
    trail = forms.digit0 + (code - 100);
  } else {
    return 0;
  }
  return part == 0 ? forms.lead : static_cast<unsigned char>(trail);
}

int check_bool_operator(const char* text) {
  static const struct {
    const char* word;
    int length;
  } kOperators[] = {{" and ", 5}, {" AND ", 5}, {" or ", 4}, {" OR ", 4}};
  for (const auto& op : kOperators) {
    if (startsWith(text, op.word) && text[op.length] != '\0') return op.length;
  }
  return 0;
}

bool changeQueryH2FByUserDefine(unsigned char c, char out[2]) {
  UserTable& table = userTable();
  if (!table.attempted) loadUserTable(table);
  for (const auto& entry : table.entries) {
    if (static_cast<unsigned char>(entry.first) == c) {
      out[0] = entry.second[0];
      out[1] = entry.second[1];
      return true;
    }
  }
  return false;
}

void resetH2FUserTable() {
  userTable() = UserTable();
}

bool isDBCSToken(const char* text, int& length, int language) {
  const unsigned char c = static_cast<unsigned char>(*text);
  if (c < 0x80) {
    length = 1;
    return false;
  }
  if (language == kLangEN) {
    length = static_cast<int>(characterLength(text, language));
    return true;
  }
  const bool halfKana = language == kLangJP && c >= 0xA1 && c <= 0xDF;
  length = (halfKana || text[1] == '\0') ? 1 : 2;
  return true;
}

const char* findFirstChar(const char* text, char ch, int language) {
  for (const char* p = text; *p != '\0';) {
    if (*p == ch) return p;
    p += characterLength(p, language);
  }
  return nullptr;
}

bool isContainKH(const char* text) {
  for (const char* p = text; *p != '\0';) {
    int length;
    if (!isDBCSToken(p, length, kLangJP) || length == 1) {
      ++p;
      continue;
    }
    const unsigned code = static_cast<unsigned char>(p[0]) << 8 | static_cast<unsigned char>(p[1]);
    if ((code >= 0x829F && code <= 0x82F1) || (code >= 0x8340 && code <= 0x8396)) return true;
    p += 2;
  }
  return false;
}

void changeQuery_H2F(char* query, int language) {
  // Like every rewrite, it leaves a terminated text of at most
  // kQueryTextMax bytes, even where it has nothing else to do.
  if (!hasFullWidthForms(language)) {
    query[strnlen(query, kQueryTextMax)] = '\0';
    return;
  }
  const std::string in = readQuery(query);
  BoundedText out(kH2FOutputMax);
  for (size_t i = 0; i < in.size();) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    int code = -1;
    int length = 1;
    if (c < 0x80) {
      const int op = check_bool_operator(in.c_str() + i);
      if (op > 0) {
        if (!out.put(in.data() + i, op)) break;
        i += op;
        continue;
      }
      code = check_half_word(c);
    } else {
      isDBCSToken(in.c_str() + i, length, language);
      if (length == 2) {
        code = check_full_lowser_english_word(c, static_cast<unsigned char>(in[i + 1]), language);
      }
    }
    char wide[2];
    bool fits;
    if (code >= 0) {
      wide[0] = static_cast<char>(get_full_uppercase(code, 0, language));
      wide[1] = static_cast<char>(get_full_uppercase(code, 1, language));
      fits = out.put(wide, 2);
    } else if (c < 0x80 && changeQueryH2FByUserDefine(c, wide)) {
      fits = out.put(wide, 2);
    } else {
      fits = out.put(in.data() + i, length);
    }
    if (!fits) break;
    i += length;
  }
  out.storeIn(query);
}

void changeQuery_H2F(char* query) {
  changeQuery_H2F(query, systemGetLanguage());
}

void changeQuery_Space(char* query, int language) {
  const std::string in = readQuery(query);
  BoundedText out(kQueryTextMax);
  for (size_t i = 0; i < in.size();) {
    const size_t n = charLength(in, i, language);
    const bool fullBlank = n == 2 && static_cast<unsigned char>(in[i]) == 0x81 && in[i + 1] == 0x40;
    if (!(fullBlank ? out.put(' ') : out.put(in.data() + i, n))) break;
    i += n;
  }
  out.storeIn(query);
}

void changeQuery_Space(char* query) {
  changeQuery_Space(query, systemGetLanguage());
}

void changeQuery_DBCS_contact_bool(char* query, int language) {
  const std::string in = readQuery(query);
  BoundedText out(kQueryTextMax);
  bool afterDouble = false;
  for (size_t i = 0; i < in.size();) {
    int length;
    bool fits;
    if (isDBCSToken(in.c_str() + i, length, language)) {
      fits = out.put(in.data() + i, length);
      afterDouble = true;
    } else {
      const char c = in[i];
      int nextLength;
      if ((c == '&' || c == '|') && afterDouble && i + 1 < in.size() &&
          isDBCSToken(in.c_str() + i + 1, nextLength, language)) {
        const char spaced[] = {' ', c, ' '};
        fits = out.put(spaced, 3);
      } else {
        fits = out.put(c);
      }
      afterDouble = false;
    }
    if (!fits) break;
    i += length;
  }
  out.storeIn(query);
}

void changeQuery_DBCS_contact_bool(char* query) {
  changeQuery_DBCS_contact_bool(query, systemGetLanguage());
}

void queryStringChangeSpaceToBool(char* query, int language) {
  const std::string in = readQuery(query);
  BoundedText out(kQueryTextMax);
  bool inQuote = false, pendingAnd = false, afterOperator = false, inWord = false, seenWord = false;
  for (size_t i = 0; i < in.size() && out.size() < kSpaceToBoolStop;) {
    const char c = in[i];
    if (c == '"') {
      inQuote = !inQuote;
      if (!inQuote) {
        afterOperator = false;
        pendingAnd = false;
      } else if (pendingAnd && !out.put(" & ", 3)) {
        break;
      }
      ++i;
      continue;
    }
    const size_t n = charLength(in, i, language);
    if (inQuote) {
      if (!out.put(in.data() + i, n)) break;
      seenWord = true;
      i += n;
      continue;
    }
    if (c == ' ') {
      inWord = false;
      if (!afterOperator && seenWord) pendingAnd = true;
      ++i;
      continue;
    }
    // A hyphen inside a word is part of it (GPL-3); "-" excludes only where
    // a word begins, so it must stay after a blank for the engine to see it.
    if (c == '-' && inWord) {
      if (!out.put(c)) break;
      ++i;
      continue;
    }
    if (c == '&' || c == '|' || c == '+' || c == '-') {
      const bool excludes = c == '-' && out.size() > 0;
      if (!(excludes ? out.put(" -", 2) : out.put(c))) break;
      afterOperator = true;
      pendingAnd = false;
      ++i;
      continue;
    }
    if (!inWord) {
      const char* word = in.c_str() + i;
      const char* replacement = startsWith(word, "and ")  ? " & "
                                : startsWith(word, "or ") ? " | "
                                                          : nullptr;
      if (replacement != nullptr) {
        if (!out.put(replacement, 3)) break;
        i += replacement[1] == '&' ? 4 : 3;
        afterOperator = true;
        pendingAnd = false;
        continue;
      }
      if (pendingAnd) {
        if (!out.put(" & ", 3)) break;
        pendingAnd = false;
        afterOperator = false;
      }
    }
    if (!out.put(in.data() + i, n)) break;
    i += n;
    inWord = true;
    seenWord = true;
    afterOperator = false;
  }
  out.storeIn(query);
}

void queryStringChangeSpaceToBool(char* query) {
  queryStringChangeSpaceToBool(query, systemGetLanguage());
}

bool getUsedQueryTerm(const char* query, std::string& out, int h2fFlag, int language) {
  char term[kQuerySize];
  const size_t n = wholeCharPrefix(query, std::strlen(query), kQueryTextMax, language);
  std::memcpy(term, query, n);
  term[n] = '\0';
  bool applied = false;
  if (h2fFlag == 1 && hasFullWidthForms(language)) {
    changeQuery_H2F(term, language);
    applied = true;
  }
  if (language == kLangJP) {
    changeQuery_Space(term, language);
    applied = true;
  }
  out = term;
  return applied;
}

bool getUsedQueryTerm(const char* query, std::string& out) {
  return getUsedQueryTerm(query, out, queryOption.h2f_flag, systemGetLanguage());
}

void addRetQuery(char* retQuery, const char* reported, int language) {
  constexpr size_t kTermMax = 253;
  ReportLog("addRetQuery text [%s]\n", reported);
  std::vector<std::string> terms;
  splitTerms(readQuery(retQuery, kRetQuerySize).c_str(), language, terms);
  std::vector<std::string> added;
  splitTerms(reported, language, added);
  for (std::string& term : added) {
    bool present = false;
    for (const std::string& known : terms)
      present = present || known == term;
    if (!present) terms.push_back(std::move(term));
  }
  ReportLog("addRetQuery terms [%d]\n", static_cast<int>(terms.size()));
  if (terms.empty()) return;

  std::string merged;
  size_t next = terms.size() - 1;
  for (size_t i = 0; i + 1 < terms.size(); ++i) {
    const size_t n = wholeCharPrefix(terms[i].data(), terms[i].size(), kTermMax, language);
    if (merged.size() + n + 1 > kRetQueryTextMax) {
      next = i;
      break;
    }
    merged.append(terms[i], 0, n);
    merged += ',';
  }
  const std::string& tail = terms[next];
  merged.append(
      tail, 0,
      wholeCharPrefix(tail.data(), tail.size(), kRetQueryTextMax - merged.size(), language));
  ReportLog("addRetQuery space left [%d]\n", static_cast<int>(kRetQueryTextMax - merged.size()));
  std::memcpy(retQuery, merged.data(), merged.size());
  retQuery[merged.size()] = '\0';
}

void addRetQuery(char* retQuery, const char* reported) {
  addRetQuery(retQuery, reported, systemGetLanguage());
}

void normaliseQuery(char* orgQuery, int h2fFlag, const char* queryCfgPath, int language) {
  if (h2fFlag == 1) changeQuery_H2F(orgQuery, language);
  if (switchedOn(queryCfgPath, "CHANGE_SPACE_F2H")) changeQuery_Space(orgQuery, language);
  if (switchedOn(queryCfgPath, "CHANGE_DBCS_BOOL_TOKEN")) {
    changeQuery_DBCS_contact_bool(orgQuery, language);
  }
  if (switchedOn(queryCfgPath, "CHANGE_SPACE_TO_BOOL")) {
    queryStringChangeSpaceToBool(orgQuery, language);
  }
}

void normaliseQuery(char* orgQuery, int h2fFlag, const char* queryCfgPath) {
  normaliseQuery(orgQuery, h2fFlag, queryCfgPath, systemGetLanguage());
}
