/// @file ntfs_filter.h
/// @brief The ACL result filter (`NTFSSearchResult`): the set of record ids
/// of one index (org or inc) that the user may see, found by a search of
/// the index's ACL companion (acl_rights.h), and the filter that deselects
/// every other hit.
///
/// A filter in pass state lets everything through; once armed it filters,
/// and an armed filter that could not load its id set (no companion, no
/// rights for the user, a companion of another build, a failed engine run,
/// an unreadable result) removes every hit: access is denied when the
/// rights cannot be read. The "NTFS:" lines of the run log are the trace.

#ifndef SEARCHRUN_ACCESS_NTFS_FILTER_H
#define SEARCHRUN_ACCESS_NTFS_FILTER_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "access/acl_rights.h"
#include "system/result_codes.h"

// Id bitmap: kAclBlockCount blocks of kAclBlockIds ids each; larger ids
// are kept in the overflow text as "_<id>_".
constexpr uint32_t kAclBlockIds = 81920;
constexpr uint32_t kAclBlockCount = 8;
constexpr uint32_t kAclBitmapIds = kAclBlockIds * kAclBlockCount;

// Results of AclEngine::readHits.
constexpr int kAclReadOk = 0;
constexpr int kAclReadNoMemory = kNoMemoryCode;
constexpr int kAclReadFormat = kBadResultFileCode;  // not an engine result file, or cut short

// The engine runs of the filter, supplied by the layer that runs programs.
class AclEngine {
 public:
  // Runs a command line (engine program and its words) and answers its exit
  // code; a run that failed or could not start answers non-zero.
  virtual int runCommand(const std::string& command) = 0;
  // Reads the bytes of an engine result file: kAclReadOk with the count of
  // its header and the record id of every record, or another kAclRead code.
  virtual int readHits(const std::string& bytes, int& count, std::vector<uint32_t>& ids) = 0;

 protected:
  ~AclEngine() = default;
};

// Built-in accounts searched with the rights of everyone only: the account
// that searches without signing in, and the system's own.
bool isAnonymousAclUser(const char* user);

class NTFSSearchResult {
 public:
  // `engine` runs the companion searches (not owned; may be null only for a
  // filter that is never armed).
  explicit NTFSSearchResult(AclEngine* engine = nullptr);
  NTFSSearchResult(const NTFSSearchResult&) = delete;
  NTFSSearchResult& operator=(const NTFSSearchResult&) = delete;

  // Where the "NTFS:" lines go; null: nowhere.
  void setLogStream(FILE* log) { m_log = log; }
  void setFileACLPass(bool pass) { m_pass = pass; }
  bool isPassFileACL() const { return m_pass; }
  bool isInitFileACL() const { return m_init; }
  const std::string& aclIndexPath() const { return m_path; }

  // Loads the ids of the file-ACL companion "<index>_ntfs" (inc:
  // "<index>_inc_ntfs") of `owner` that `user` of `domain` may see. The
  // user's code is 0 (documents everyone may read) when domain or user is
  // missing, the user is a built-in account, or `domain` is not
  // `localDomain`, the domain of the users who sign in here (compared
  // ignoring case); else the companion's table gives it (a user it does
  // not name has 0). True when ids were loaded.
  bool initFileACL(const char* owner, const char* index, bool inc, const char* domain,
                   const char* user, const std::string& localDomain);
  // Loads the ids of the ACL-builder companion "<index>_acl" (inc:
  // "<index>_inc_acl") that `user` may see. No user: nothing is loaded. A
  // built-in account has the rights of everyone.
  bool initACLBuilder(const char* owner, const char* index, bool inc, const char* user);

  // Deselects every still selected hit of `set` (a VelaOut: m_match_count,
  // m_output_count, m_rec[i].m_recid and m_output_flag) that is not in the
  // id set, or every one when no id set was loaded.
  template <class ResultSet>
  void filterGRLRecordList(ResultSet& set);

  // The id set.
  void setSearchResult(uint32_t id);
  bool isInSearchResult(int64_t id) const;
  void clearSearchResult();  // bitmap blocks zeroed; the overflow text stays
  void freeSearchResult();   // blocks released
  bool hasBlock(uint32_t block) const { return block < kAclBlockCount && m_blocks[block]; }
  const std::string& overflowIds() const { return m_overflow; }

  // Loads the engine result file at `path` into the id set. Returns the
  // count of its header, 0 on any failure (each logged).
  int parserVelaBinOutFilename(const std::string& path);

 private:
  // Runs the companion search with `text` into a fresh result file with the
  // name stem `stem` and loads it; false when it failed or found nothing.
  bool searchACLIndex(const char* stem, const std::string& text);
  bool keepHit(int64_t recid);
  void logLeft(int32_t count) const;
  void log(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  void dumpIds() const;
  // Sets the companion path and checks that it describes the records of
  // the index it belongs to; false (logged) otherwise.
  bool useCompanion(const char* owner, const char* index, bool inc, AclKind kind);

  AclEngine* m_engine;
  std::unique_ptr<unsigned char[]> m_blocks[kAclBlockCount];
  std::string m_overflow;
  std::string m_path;
  bool m_init = false;
  bool m_pass = true;
  FILE* m_log = nullptr;
};

template <class ResultSet>
void NTFSSearchResult::filterGRLRecordList(ResultSet& set) {
  for (int32_t i = 0; i < set.m_match_count; ++i) {
    auto& rec = set.m_rec[i];
    // A hit an earlier filter removed is neither tested nor logged.
    if (rec.m_output_flag == 0) continue;
    if (!keepHit(rec.m_recid)) {
      rec.m_output_flag = 0;
      --set.m_output_count;
    }
  }
  logLeft(set.m_output_count);
}

#endif  // SEARCHRUN_ACCESS_NTFS_FILTER_H
