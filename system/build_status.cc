/// @file build_status.cc
/// @brief Build status of an index, and the builder's record of its builds.

#include "system/build_status.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "system/clock.h"
#include "system/config.h"
#include "system/index_format.h"
#include "system/index_stats.h"
#include "system/layout.h"
#include "system/log.h"
#include "system/numbers.h"
#include "system/secure_file.h"

namespace {

void copyName(char (&dest)[64], const char* name) {
  std::snprintf(dest, sizeof dest, "%s", name ? name : "");
}

std::string dateOf(int32_t seconds) {
  const struct tm t = systemLocalTime(seconds);
  char text[40];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  return text;
}

std::string timeOf(int32_t seconds) {
  const struct tm t = systemLocalTime(seconds);
  char text[40];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

}  // namespace

void CCollectBuildStatus::setIndexName(const char* name) {
  ReportLog("%s(%d): CCollectBuildStatus:setIndexName : index_name = '%s'\n", __FILE__, __LINE__,
            name ? name : "");
  copyName(m_index_name, name);
  ReportLog("%s(%d): CCollectBuildStatus:setIndexName : m_index_name = '%s'\n", __FILE__, __LINE__,
            m_index_name);
}

void CCollectBuildStatus::setOwnerName(const char* name) {
  ReportLog("%s(%d): CCollectBuildStatus:setOwnerName : index_owner = '%s'\n", __FILE__, __LINE__,
            name ? name : "");
  copyName(m_owner_name, name);
  ReportLog("%s(%d): CCollectBuildStatus:setOwnerName : m_owner_name = '%s'\n", __FILE__, __LINE__,
            m_owner_name);
}

void CCollectBuildStatus::setIndexType(const char* type) {
  static const struct {
    const char* name;
    int type;
  } kTypes[] = {{"doc", kDoc}, {"web", kWeb},     {"proxy", kWeb},
                {"db", kDb},   {"notes", kNotes}, {"exchange", kExchange}};
  for (const auto& t : kTypes) {
    if (type && std::strcmp(type, t.name) == 0) m_index_type = t.type;
  }
}

std::string CCollectBuildStatus::getStartDate() const {
  return dateOf(m_start_time);
}
std::string CCollectBuildStatus::getEndDate() const {
  return dateOf(m_end_time);
}
std::string CCollectBuildStatus::getStartTime() const {
  return timeOf(m_start_time);
}
std::string CCollectBuildStatus::getEndTime() const {
  return timeOf(m_end_time);
}

const char* CCollectBuildStatus::getServerIP() const {
  return systemGetIPAddress();
}

void CCollectBuildStatus::getIndexRecordSize(uint32_t& count, double& size) const {
  ReportLog("%s(%d): CCollectBuildStatus:getIndexRecordSize : m_owner_name = '%s'\n", __FILE__,
            __LINE__, m_owner_name);
  ReportLog("%s(%d): CCollectBuildStatus:getIndexRecordSize : m_index_name = '%s'\n", __FILE__,
            __LINE__, m_index_name);
  uint32_t numRec = 0, incNumRec = 0;
  double idxSize = 0, incIdxSize = 0;
  systemGetShowIndexNumRec(m_owner_name, m_index_name, numRec, idxSize, incNumRec, incIdxSize);
  ReportLog("%s(%d): CCollectBuildStatus:getIndexRecordSize : numRec = '%u', inc_numRec = '%u'\n",
            __FILE__, __LINE__, numRec, incNumRec);
  ReportLog(
      "%s(%d): CCollectBuildStatus:getIndexRecordSize : idxSize = '%.0f', inc_idxSize = '%.0f'\n",
      __FILE__, __LINE__, idxSize, incIdxSize);
  count = numRec + incNumRec;
  size = idxSize + incIdxSize;
}

double CCollectBuildStatus::m_cal_file_size_in_dir(const std::string& path, bool recursive) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(path.c_str()));
  if (!dir) return 0;
  double total = 0;
  while (const dirent* entry = readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::string child = path + "/" + entry->d_name;
    struct stat st;
    if (lstat(child.c_str(), &st) != 0) continue;
    if (S_ISREG(st.st_mode))
      total += static_cast<double>(st.st_size);
    else if (S_ISDIR(st.st_mode) && recursive)
      total += m_cal_file_size_in_dir(child, true);
  }
  return total;
}

double CCollectBuildStatus::getUsedHDSize() const {
  const char* prefix = "CCollectBuildStatus:getUsedHDSize : ";
  ReportLog("%s(%d): %sm_owner_name = '%s'\n", __FILE__, __LINE__, prefix, m_owner_name);
  ReportLog("%s(%d): %sm_index_name = '%s'\n", __FILE__, __LINE__, prefix, m_index_name);
  const std::string home = systemGetIndexHome(m_owner_name, m_index_name);
  ReportLog("%s(%d): %sindex_directory = '%s'\n", __FILE__, __LINE__, prefix, home.c_str());
  if (home.empty()) return 0;
  double total = 0;
  const std::string inc = incPartOf(home);
  for (const std::string& dir : {home, inc, home + "_sbf", inc + "_sbf", home + "_file"}) {
    const double size = m_cal_file_size_in_dir(dir, false);
    ReportLog("%s(%d): %sused_directory = '%s'\n", __FILE__, __LINE__, prefix, dir.c_str());
    ReportLog("%s(%d): %ssub_directory_size = '%.0f'\n", __FILE__, __LINE__, prefix, size);
    total += size;
  }
  ReportLog("%s(%d): %stotal_directory_size = '%.0f'\n", __FILE__, __LINE__, prefix, total);
  return total;
}

std::string CCollectBuildStatus::outputDateFilename(int32_t seconds) {
  const struct tm t = systemLocalTime(seconds);
  char text[40];
  std::snprintf(text, sizeof text, "%04d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  return text;
}

bool writeBuildRecord(const std::string& indexHome, const BuildRecord& record) {
  const std::string text = "START_TIME=" + std::to_string(record.start) +
                           "\nEND_TIME=" + std::to_string(record.end) + "\nTYPE=" + record.type +
                           "\nMODE=" + record.mode + "\n";
  return replaceFileAtomically(indexHome + "/" + kBuildRecordFile, text, 0644);
}

bool readBuildRecord(const std::string& indexHome, BuildRecord& record) {
  const std::string path = indexHome + "/" + kBuildRecordFile;
  const std::string mode = getCfgFileTokenValue(path.c_str(), "MODE");
  if (mode.empty()) return false;
  int64_t n = 0;
  record.start = parseDecimal(getCfgFileTokenValue(path.c_str(), "START_TIME"), 0, INT32_MAX, n)
                     ? static_cast<int32_t>(n)
                     : 0;
  record.end = parseDecimal(getCfgFileTokenValue(path.c_str(), "END_TIME"), 0, INT32_MAX, n)
                   ? static_cast<int32_t>(n)
                   : 0;
  record.type = getCfgFileTokenValue(path.c_str(), "TYPE");
  record.mode = mode;
  return true;
}

std::string buildStatusReport(const CCollectBuildStatus& status, const std::string& mode) {
  static const char* const kTypeNames[] = {"doc", "web", "db", "notes", "exchange"};
  uint32_t count = 0;
  double size = 0;
  status.getIndexRecordSize(count, size);
  char line[256];
  std::string report;
  auto add = [&](const char* name, const std::string& value) {
    report += std::string(name) + ": " + value + "\n";
  };
  add("Server", status.getServerIP() ? status.getServerIP() : "");
  add("Owner", status.getOwnerName());
  add("Index", status.getIndexName());
  add("Type", kTypeNames[status.getIndexType()]);
  add("Mode", mode + " (" + std::to_string(status.getIndexMode()) + ")");
  add("Start", status.getStartDate() + " " + status.getStartTime());
  add("End", status.getEndDate() + " " + status.getEndTime());
  add("Records", std::to_string(count));
  std::snprintf(line, sizeof line, "%.0f", size);
  add("Index size", line);
  std::snprintf(line, sizeof line, "%.0f", status.getUsedHDSize());
  add("Disk used", line);
  return report;
}
