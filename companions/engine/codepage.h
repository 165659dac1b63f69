/// @file codepage.h
/// @brief The installation's local code page and conversions between it and
/// UTF-8, which the engine and the index builder work in.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_CODEPAGE_H
#define SEARCHRUN_COMPANIONS_ENGINE_CODEPAGE_H

#include <cstddef>
#include <string>
#include <string_view>

namespace vela {

// Language codes of an installation, as "lang.cfg" names them.
enum class Language { kBig5 = 0, kShiftJis = 1, kGbk = 2, kEnglish = 3 };

// The language of an installation code (0 Big5, 1 Shift_JIS, 2 GBK); any
// other code, the unknown -1 included, is English (UTF-8).
Language languageFromCode(int code);
// The language of the installation whose CGI directory is the current one.
Language installLanguage();
// The language that ROOT/lang.cfg names, read as installLanguage reads it
// (".." for the installation whose CGI directory is the current one).
Language languageOfInstallation(const std::string& root);

// Converts between the local code page of a language and UTF-8. Conversion
// never fails: a local byte sequence that the code page does not define
// becomes one blank, a character that the code page cannot show becomes "?".
class CodePage {
 public:
  explicit CodePage(Language language);
  Language language() const { return language_; }
  // Name of the code page for iconv ("UTF-8" for English).
  const char* charset() const;

  std::string toUtf8(std::string_view local) const;
  std::string fromUtf8(std::string_view utf8) const;

  // Length of the character that starts at p (1 or 2), with at most `left`
  // bytes available; never more than `left`.
  size_t charLength(const unsigned char* p, size_t left) const;
  // The longest prefix of `local` of at most maxBytes bytes that does not cut
  // a character.
  std::string_view cut(std::string_view local, size_t maxBytes) const;

 private:
  Language language_;
};

// Converts text between two iconv charsets with the same rules as CodePage
// (undefined input becomes a blank, unshowable output becomes "?"). Returns
// false, leaving `out` empty, when iconv does not know one of the charsets.
bool convertCharset(std::string_view in, const char* from, const char* to, std::string& out);

// True when every byte sequence of `text` is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_CODEPAGE_H
