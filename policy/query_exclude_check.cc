/// @file query_exclude_check.cc
/// @brief The exclusion check run for every index before its engine command
/// is built.

#include "policy/query_exclude_check.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>

#include "policy/query_exclude.h"
#include "system/layout.h"
#include "system/lines.h"
#include "system/log.h"
#include "system/scratch_files.h"
#include "system/secure_file.h"

namespace {

// The installation's code page as the C library names it. The first name is
// the system's own; the others are the same code pages as this platform's
// locale database spells them. False when none of them is installed.
bool setExclusionLocale(int language) {
  static const char* const kTraditional[] = {"chinese traditional", "zh_TW.BIG5", "zh_TW.big5",
                                             "zh_HK.BIG5-HKSCS", nullptr};
  static const char* const kSimplified[] = {"chinese simplified", "zh_CN.GBK",    "zh_CN.gbk",
                                            "zh_CN.GB18030",      "zh_CN.GB2312", nullptr};
  const char* const* names = nullptr;
  if (language == kLangCH) {
    ReportLog("Setting language to <chinese traditional>\n");
    names = kTraditional;
  } else if (language == kLangGB) {
    ReportLog("Setting language to <chinese simplified>\n");
    names = kSimplified;
  }
  if (names == nullptr) return true;
  // Only the character classes: the other categories would change how
  // numbers and dates are written later in the run.
  for (; *names != nullptr; ++names) {
    if (std::setlocale(LC_CTYPE, *names) != nullptr) return true;
  }
  ReportLog("WARNING: no locale for the installation's code page\n");
  return false;
}

// Big5 and GBK without a locale: a byte from 0x80 up leads a two-byte
// character, the rule the query rewrites use. Counting bytes instead would
// let "?" take half a character and a trail byte match an ASCII letter.
size_t doubleByteCharLength(const char* text, size_t remaining) {
  return static_cast<unsigned char>(*text) >= 0x80 && remaining >= 2 ? 2 : 1;
}

bool readTermLine(const std::string& termFile, std::string& query) {
  UniqueFile in(scratch::open(termFile));
  if (!in) return false;
  query.clear();
  readBoundedLine(in.get(), kExcludeTermLineMax, query);
  if (!query.empty() && query.back() == '\r') query.pop_back();
  return true;
}

// Loads one list and checks the query; a refusal clears the run's flag.
void checkList(ExclusionList& list, const std::string& path, const std::string& query,
               bool global) {
  ReportLog(global ? "INFO: reading global search keyword exclusion list\n"
                   : "INFO: reading individual search keyword exclusion list\n");
  if (list.getList(path.c_str()) != kExcludeListRead) {
    ReportLog(global ? "INFO: global query stop token can't be read\n"
                     : "INFO: individual search keyword exclusion list can't be read\n");
    return;
  }
  ReportLog(global ? "INFO: checking isQueryAllowed(global)\n"
                   : "INFO: checking isQueryAllowed(individual)\n");
  if (list.isQueryAllowed(query.c_str())) return;
  if (global) {
    ReportLog("INFO: the query string <%s> is not allowed globaly\n", query.c_str());
  } else {
    ReportLog("INFO: the query string is not allowed\n");
  }
  g_search_keyword_allowed = 0;
}

bool writeRefusedToken(const std::string& termFile) {
  // The term file is this run's own scratch file: rewritten in place, never
  // through a link.
  return scratch::write(termFile, kRefusedQueryToken);
}

}  // namespace

bool screenQueryTermFile(const std::string& indexHome, const std::string& termFile) {
  const int language = systemGetLanguage();
  if (language == kLangJP) return true;
  std::string query;
  if (!readTermLine(termFile, query)) {
    ReportLog("Error: unable to open query term file %s\n", termFile.c_str());
    g_search_keyword_allowed = 0;
    return false;
  }
  ExclusionList list;
  if (!setExclusionLocale(language)) list.setCharLength(doubleByteCharLength);
  checkList(list, kGlobalExcludeList, query, true);
  if (g_search_keyword_allowed != 0)
    checkList(list, indexHome + "/" + kIndexExcludeList, query, false);
  if (g_search_keyword_allowed != 0) return true;
  if (!writeRefusedToken(termFile)) {
    ReportLog("ERROR: can't open query term file %s for writing back.\n", termFile.c_str());
    return false;
  }
  return true;
}
