/// @file access_filters.cc
/// @brief Arming the ACL filters of a search job.

#include "policy/access_filters.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <new>
#include <set>

#include "search/process_runner.h"
#include "search/vela_out.h"
#include "system/address.h"
#include "system/index_stats.h"
#include "system/layout.h"
#include "system/numbers.h"

int AclEngineRunner::runCommand(const std::string& command) {
  return executed_wait(command.c_str());
}

int AclEngineRunner::readHits(const std::string& bytes, int& count, std::vector<uint32_t>& ids) {
  FILE* fp = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
  if (fp == nullptr) return kAclReadNoMemory;
  VelaOut* raw = nullptr;
  const int rc = parseVelaOutFromFile(fp, &raw);
  std::fclose(fp);
  if (rc == kBinoutNoMemory) return kAclReadNoMemory;
  if (rc != kBinoutOk) return kAclReadFormat;
  const VelaOutPtr set(raw);
  count = set->m_match_count;
  ids.clear();
  ids.reserve(static_cast<size_t>(set->m_match_count));
  for (int32_t i = 0; i < set->m_match_count; ++i)
    ids.push_back(static_cast<uint32_t>(set->m_rec[i].m_recid));
  return kAclReadOk;
}

void AccessJobFilters::Side::filterResultSet(VelaOut& set) {
  if (!m_builder.isPassFileACL()) m_builder.filterGRLRecordList(set);
  if (!m_file.isPassFileACL()) m_file.filterGRLRecordList(set);
}

void AccessJobFilters::arm(velaSearch& job) {
  job.m_orgAclFilter = nullptr;
  job.m_incAclFilter = nullptr;
  for (NTFSSearchResult* filter : {&m_orgBuilder, &m_incBuilder, &m_orgFile, &m_incFile}) {
    filter->setFileACLPass(true);
    filter->setLogStream(job.m_fplog);
  }
  if (job.m_fgLocalRemote != fgLocal) return;
  const char* owner = job.getIndexOwner();
  const char* index = job.getIndexName();
  const char* user = m_who.user ? m_who.user->c_str() : nullptr;
  bool armed = false;
  if (job.isACLBuilderIndex()) {
    for (const bool inc : {false, true}) {
      builderFilter(inc).initACLBuilder(owner, index, inc, user);
      builderFilter(inc).setFileACLPass(false);
    }
    armed = true;
  }
  if (job.isNTFSIndex()) {
    const std::string localDomain = adDomainGet();
    const char* domain = m_who.domain          ? m_who.domain->c_str()
                         : localDomain.empty() ? nullptr
                                               : localDomain.c_str();
    // Without directory login no user has a domain identity.
    const bool directory = systemIsEnabledLDAP();
    for (const bool inc : {false, true}) {
      fileFilter(inc).initFileACL(owner, index, inc, directory ? domain : nullptr,
                                  directory ? user : nullptr, localDomain);
      fileFilter(inc).setFileACLPass(false);
    }
    armed = true;
  }
  if (armed) {
    job.m_orgAclFilter = &m_org;
    job.m_incAclFilter = &m_inc;
  }
}

namespace {

// The ids of one side as a result set, renumbered within the side.
VelaOutPtr sideSet(const std::vector<uint32_t>& ids, uint32_t first, uint32_t last) {
  std::vector<int32_t> side;
  for (uint32_t id : ids)
    if (id >= first && id <= last) side.push_back(static_cast<int32_t>(id - first + 1));
  VelaOutPtr set(VelaOut::initAlloc(static_cast<int>(side.size())));
  if (!set) throw std::bad_alloc();
  set->m_match_count = set->m_output_count = static_cast<int32_t>(side.size());
  set->m_matched_str[0] = '\0';
  for (size_t i = 0; i < side.size(); ++i)
    set->m_rec[i] = VelaRecord{side[i], 0, 1};
  return set;
}

}  // namespace

std::vector<uint32_t> visibleRecords(const std::string& owner, const std::string& index,
                                     const std::vector<uint32_t>& ids, const AccessIdentity& who) {
  velaSearch job;
  job.initialize("", systemGetIPAddress(), owner.c_str(), index.c_str(), "", fgLocal, nullptr, " ",
                 "doc", "score", "*", "*", 0, 0, 0, -1);
  AccessJobFilters filters;
  filters.setIdentity(who);
  filters.arm(job);
  if (!job.m_orgAclFilter) return ids;
  uint32_t orgCount = 0;
  double size = 0;
  systemGetIndexNumRec(owner.c_str(), index.c_str(), orgCount, size);
  const VelaOutPtr org = sideSet(ids, 1, orgCount);
  const VelaOutPtr inc = sideSet(ids, orgCount + 1, UINT32_MAX);
  job.m_orgAclFilter->filterResultSet(*org);
  job.m_incAclFilter->filterResultSet(*inc);
  std::set<uint32_t> visible;
  for (const VelaOutPtr* side : {&org, &inc}) {
    const uint32_t offset = side == &org ? 0 : orgCount;
    for (int32_t i = 0; i < (*side)->m_match_count; ++i)
      if ((*side)->m_rec[i].m_output_flag)
        visible.insert(static_cast<uint32_t>((*side)->m_rec[i].m_recid) + offset);
  }
  // Back into the order asked for.
  std::vector<uint32_t> out;
  for (uint32_t id : ids)
    if (visible.count(id)) out.push_back(id);
  return out;
}

bool similarDocRecordReadable(const SimilarDocMarker& marker, const VelaSearchListVector& selected,
                              const AccessIdentity& who) {
  int64_t record = 0;
  if (!parseDecimal(marker.record, 1, INT32_MAX, record)) return false;
  for (const velaSearchList& entry : selected) {
    if (entry.idxName != marker.indexId || !isLocalIPAddress(entry.ipAddr.c_str())) continue;
    uint32_t id = static_cast<uint32_t>(record);
    if (marker.increment) {
      // Inc records follow the org ones in the numbering the filters take.
      uint32_t orgCount = 0;
      double size = 0;
      systemGetIndexNumRec(entry.owner.c_str(), entry.idxName.c_str(), orgCount, size);
      if (id > UINT32_MAX - orgCount) return false;
      id += orgCount;
    }
    return !visibleRecords(entry.owner, entry.idxName, {id}, who).empty();
  }
  return false;
}
