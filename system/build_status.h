/// @file build_status.h
/// @brief What a build status report shows of one index: when its last
/// build started and ended, its owner, name, type and mode, its records and
/// size, and the disk space its directories use; and the record of the last
/// build that the index builder leaves in the index directory.

#ifndef SEARCHRUN_SYSTEM_BUILD_STATUS_H
#define SEARCHRUN_SYSTEM_BUILD_STATUS_H

#include <cstdint>
#include <ctime>
#include <string>

class CCollectBuildStatus {
 public:
  // Index types.
  enum { kDoc = 0, kWeb = 1, kDb = 2, kNotes = 3, kExchange = 4 };

  void setStartTime(int32_t seconds) { m_start_time = seconds; }
  void setEndTime(int32_t seconds) { m_end_time = seconds; }
  // Names longer than 63 characters are cut.
  void setIndexName(const char* name);
  void setOwnerName(const char* name);
  // "doc" 0, "web" or "proxy" 1, "db" 2, "notes" 3, "exchange" 4; any other
  // text keeps the type.
  void setIndexType(const char* type);
  // 1 when `mode` is 1, else 0.
  void setIndexMode(int mode) { m_index_mode = mode == 1 ? 1 : 0; }

  // Local date "yyyy/mm/dd" and time "hh:mm:ss" of the start and end.
  std::string getStartDate() const;
  std::string getEndDate() const;
  std::string getStartTime() const;
  std::string getEndTime() const;
  const char* getOwnerName() const { return m_owner_name; }
  const char* getIndexName() const { return m_index_name; }
  int getIndexType() const { return m_index_type; }
  int getIndexMode() const { return m_index_mode; }
  const char* getServerIP() const;

  // Records of the index and its inc part, and their sizes.
  void getIndexRecordSize(uint32_t& count, double& size) const;
  // Bytes of the regular files directly inside the index directory, its
  // inc part (index_format.h), the "_sbf" directory of each and its "_file" directory (links and
  // subdirectories not counted; a missing directory adds 0).
  double getUsedHDSize() const;
  // "yyyymmdd" of the local date of `seconds`.
  static std::string outputDateFilename(int32_t seconds);

  // Bytes of the regular files in `path`, and of its subdirectories when
  // `recursive`; symbolic links add nothing.
  static double m_cal_file_size_in_dir(const std::string& path, bool recursive);

 private:
  int32_t m_start_time = 0;
  int32_t m_end_time = 0;
  char m_index_name[64] = "";
  char m_owner_name[64] = "";
  int m_index_type = kDoc;
  int m_index_mode = 0;
};

// The index builder's record of the last build of an index, kept as
// "build_status" (key=value lines) in the index directory.
struct BuildRecord {
  int32_t start = 0;
  int32_t end = 0;
  std::string type;  // "doc", "db", ...
  std::string mode;  // "create", "update" or "rebuild"
};
constexpr const char* kBuildRecordFile = "build_status";

bool writeBuildRecord(const std::string& indexHome, const BuildRecord& record);
// False when the index has no readable record.
bool readBuildRecord(const std::string& indexHome, BuildRecord& record);

// The status as a report lines "Name: value"; the collector's mode is 1 for
// an update (an inc build) and 0 for a whole build.
std::string buildStatusReport(const CCollectBuildStatus& status, const std::string& mode);

#endif  // SEARCHRUN_SYSTEM_BUILD_STATUS_H
