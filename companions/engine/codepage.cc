/// @file codepage.cc
/// @brief Local code page detection and iconv-based conversion.

#include "companions/engine/codepage.h"

#include "companions/doctext/code_pages.h"

#include "system/layout.h"
#include "system/lines.h"

#include <errno.h>
#include <iconv.h>

namespace vela {

namespace {

// Owns one iconv descriptor.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence whose lead byte is c (1 for a stray byte).
size_t utf8Length(unsigned char c) {
  if (c < 0xC0) return 1;
  if (c < 0xE0) return 2;
  if (c < 0xF0) return 3;
  return 4;
}

// Converts in one pass; `bad` is written for each input sequence that cannot
// be converted, and the offending input is skipped by `skip` bytes.
void convertWith(iconv_t cd, std::string_view in, std::string& out, const char* bad,
                 bool fromUtf8) {
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char buf[4096];
  while (srcLeft > 0) {
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf, static_cast<size_t>(dst - buf));
    if (rc != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (a sequence cut off at the end): drop one character.
    size_t skip = fromUtf8 ? utf8Length(static_cast<unsigned char>(*src)) : 1;
    if (skip > srcLeft) skip = srcLeft;
    src += skip;
    srcLeft -= skip;
    out += bad;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  char* dst = buf;
  size_t dstLeft = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &dstLeft);
  out.append(buf, static_cast<size_t>(dst - buf));
}

}  // namespace

Language languageFromCode(int code) {
  switch (code) {
    case 0:
      return Language::kBig5;
    case 1:
      return Language::kShiftJis;
    case 2:
      return Language::kGbk;
    default:
      return Language::kEnglish;
  }
}

Language installLanguage() {
  return languageFromCode(systemGetLanguage());
}

Language languageOfInstallation(const std::string& root) {
  // The same first line and names as systemGetLanguage, without its cache:
  // a long-running reader sees a changed file.
  static const struct {
    const char* name;
    int code;
  } kCodes[] = {{"CH", kLangCH}, {"JP", kLangJP}, {"GB", kLangGB}, {"EN", kLangEN}};
  std::string line;
  if (!readFirstLine(installationFile(root, "lang.cfg").c_str(), 14, line))
    return Language::kEnglish;
  for (const auto& c : kCodes)
    if (line == c.name) return languageFromCode(c.code);
  return Language::kEnglish;
}

CodePage::CodePage(Language language) : language_(language) {}

const char* CodePage::charset() const {
  // One table with the renderer, which shows what is indexed here.
  return doctext::localCodePage(static_cast<int>(language_));
}

bool convertCharset(std::string_view in, const char* from, const char* to, std::string& out) {
  out.clear();
  Iconv cd(to, from);
  if (!cd.ok()) return false;
  bool fromUtf8 = std::string_view(from) == "UTF-8";
  convertWith(cd.get(), in, out, std::string_view(to) == "UTF-8" && !fromUtf8 ? " " : "?",
              fromUtf8);
  return true;
}

std::string CodePage::toUtf8(std::string_view local) const {
  std::string out;
  if (language_ == Language::kEnglish) {
    if (isValidUtf8(local)) return std::string(local);
    // Clean a broken UTF-8 text: each bad byte becomes a blank.
    Iconv cd("UTF-8", "UTF-8");
    if (cd.ok()) convertWith(cd.get(), local, out, " ", false);
    return out;
  }
  convertCharset(local, charset(), "UTF-8", out);
  return out;
}

std::string CodePage::fromUtf8(std::string_view utf8) const {
  if (language_ == Language::kEnglish) return toUtf8(utf8);
  std::string out;
  convertCharset(utf8, "UTF-8", charset(), out);
  return out;
}

size_t CodePage::charLength(const unsigned char* p, size_t left) const {
  if (left == 0) return 0;
  size_t len = 1;
  if (language_ == Language::kEnglish) {
    len = utf8Length(*p);
  } else if (*p >= 0x80) {
    bool halfKana = language_ == Language::kShiftJis && *p >= 0xA1 && *p <= 0xDF;
    len = halfKana ? 1 : 2;
  }
  return len < left ? len : left;
}

std::string_view CodePage::cut(std::string_view local, size_t maxBytes) const {
  size_t pos = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(local.data());
  while (pos < local.size()) {
    size_t len = charLength(p + pos, local.size() - pos);
    if (pos + len > maxBytes) break;
    pos += len;
  }
  return local.substr(0, pos);
}

bool isValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    unsigned char c = p[i];
    size_t len = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
    if (len == 0 || i + len > n) return false;
    for (size_t k = 1; k < len; ++k)
      if ((p[i + k] & 0xC0) != 0x80) return false;
    if (len == 3 && ((c == 0xE0 && p[i + 1] < 0xA0) || (c == 0xED && p[i + 1] >= 0xA0)))
      return false;
    if (len == 4 && ((c == 0xF0 && p[i + 1] < 0x90) || (c == 0xF4 && p[i + 1] >= 0x90)))
      return false;
    i += len;
  }
  return true;
}

}  // namespace vela
