/// @file search_run_selection.cc
/// @brief What both request fronts decide about the selected indexes: the
/// search number, the file-name property state, the search-by-field
/// conditions.

#include <cstdio>
#include <string>

#include "front/search_run.h"
#include "system/delimiters.h"
#include "system/lines.h"
#include "system/log.h"
#include "system/numbers.h"
#include "system/secure_file.h"
#include "system/strings.h"

namespace {

// Lines of the search-by-field file are read up to this many characters.
constexpr size_t kSbfLineMax = 2047;

}  // namespace

int readSearchNum(const char* value) {
  return value ? parseAtoi(value) : 1;
}

int filePropertySearchState(int dbNum, int fileNameSearch, int searchNum,
                            const VelaSearchListVector& list, int fileNameIndexCount) {
  int state = 0;
  ReportLog("queryOption.dbNum = [%d]\n", dbNum);
  ReportLog("queryOption.file_name_search = [%d]\n", fileNameSearch);
  if (dbNum > 0 && fileNameSearch >= 1 && fileNameSearch <= 7) {
    ReportLog("searchNum = [%d]\n", searchNum);
    ReportLog("SupportFileNameIndexCount = [%d]\n", fileNameIndexCount);
    if (searchNum != 0) {
      // searchNum lies in 1..dbNum here (checked before), but the list may
      // hold fewer entries than dbNum counts once other forms fill it.
      if (searchNum >= 1 && static_cast<size_t>(searchNum) <= list.size()) {
        const velaSearchList& entry = list[static_cast<size_t>(searchNum) - 1];
        ReportLog("vecVelaSearchList[searchNum-1].dbType = [%s]\n", entry.dbType.c_str());
        if (entry.dbType == "db") state = -1;
      }
    } else if (fileNameIndexCount == 0) {
      state = -1;
    }
  }
  ReportLog("run_property_search_index = [%d]\n", state);
  return state;
}

std::string searchByFieldPath(int sbfRandomNo) {
  char path[64];
  std::snprintf(path, sizeof path, "..%csbf%c%s_%05d.cfg", '/', '/', "sbf", sbfRandomNo);
  return path;
}

void applySearchByFieldFile(const std::string& path, VelaSearchListVector& list) {
  const UniqueFile in(fopenRegular(path));
  if (!in) return;
  std::string line;
  while (readBoundedLine(in.get(), kSbfLineMax, line)) {
    std::string work = line;
    char* cursor = work.data();
    const std::string address = getToken(cursor, kFieldDelim);
    const std::string owner = getToken(cursor, kFieldDelim);
    const std::string indexName = getToken(cursor, kGroupEndDelim);
    const std::string condition = cursor;
    // The first entry that matches, and the entries that repeat it: a
    // request's copy of an index is the same search.
    const velaSearchList* first = nullptr;
    for (velaSearchList& entry : list) {
      if (first ? entry.sameIndexAs(*first)
                : entry.ipAddr == address && entry.owner == owner && entry.idxName == indexName) {
        entry.sbfString = condition;
        if (!first) first = &entry;
      }
    }
  }
}
