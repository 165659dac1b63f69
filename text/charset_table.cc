/// @file charset_table.cc
/// @brief Reading conversion tables and the lead-byte rules.

#include "text/charset_table.h"

#include <cstdio>
#include <memory>

#include "system/lines.h"
#include "system/secure_file.h"

namespace {

const char* const kToUnicode[] = {"big5_unicode.tbl", "gbk_unicode.tbl", "sjis_unicode.tbl",
                                  "jpeuc_unicode.tbl"};
const char* const kFromUnicode[] = {"unicode_big5.tbl", "unicode_gbk.tbl", "unicode_sjis.tbl",
                                    "unicode_jpeuc.tbl"};

}  // namespace

const char* charsetTableName(uint32_t member, bool to_unicode) {
  if (member < 1 || member > 4) return nullptr;
  return to_unicode ? kToUnicode[member - 1] : kFromUnicode[member - 1];
}

std::string charsetTablePath(const std::string& dir, const char* name) {
  if (dir.empty()) return name;
  const char last = dir.back();
  return last == '/' || last == '\\' ? dir + name : dir + "/" + name;
}

int loadCharsetTable(const std::string& dir, uint32_t member, bool to_unicode,
                     CharsetTable& table) {
  const char* name = charsetTableName(member, to_unicode);
  if (name == nullptr) return kCharsetTableBadMember;
  // Read-only: the tables are installation data that the web server's user
  // may read but not write.
  UniqueFile file(fopenRegular(charsetTablePath(dir, name).c_str()));
  if (!file) return kCharsetTableCannotOpen;
  // Entries are in host order: the bytes go straight into the 16-bit words.
  table.resize(kCharsetTableEntries);
  const size_t got = std::fread(table.data(), 1, kCharsetTableBytes, file.get());
  return got == kCharsetTableBytes ? 0 : kCharsetTableShort;
}

void setBig5DBCSLeadBit(DbcsLeadFlags& flags) {
  for (size_t b = 0; b < flags.size(); ++b)
    flags[b] = b >= 0x80;
}

void setSJISDBCSLeadBit(DbcsLeadFlags& flags) {
  for (size_t b = 0; b < flags.size(); ++b)
    flags[b] = (b >= 0x80 && b <= 0x9F) || b >= 0xE0;
}
