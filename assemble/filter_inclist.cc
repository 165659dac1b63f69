/// @file filter_inclist.cc
/// @brief Loading the superseded org record ids and filtering org hits.

#include "assemble/filter_inclist.h"

#include <new>

#include "search/result_files.h"
#include "search/uint7.h"

int filter_inclist::init_inclist(const std::string& dir, unsigned long orgRecordCount) {
  p_inclist_array.clear();
  std::string bytes;
  try {
    if (!readWholeFile(dir + "/" + kIncIdListFile, bytes) || bytes.empty()) return kIncListNone;
    p_inclist_array.assign(orgRecordCount / 8 + 1, 0);
  } catch (const std::bad_alloc&) {
    p_inclist_array.clear();
    return kIncListNoMemory;
  }
  ByteCursor cursor(bytes.data(), bytes.size());
  while (cursor.remaining() > 0 && *cursor.pos != 0) {
    const uint32_t id = g_getUInt_7U(cursor);
    if (!cursor.ok()) break;
    if (id > orgRecordCount) {
      p_inclist_array.clear();
      return kIncListBadId;
    }
    if (id == 0) continue;
    p_inclist_array[(id - 1) / 8] |= static_cast<unsigned char>(1u << ((id - 1) % 8));
  }
  return kIncListOk;
}

bool filter_inclist::isListed(int64_t recid) const {
  if (recid < 1) return false;
  const uint64_t bit = static_cast<uint64_t>(recid - 1);
  if (bit / 8 >= p_inclist_array.size()) return false;
  return (p_inclist_array[bit / 8] >> (bit % 8)) & 1u;
}

void filter_inclist::filterInclist(VelaOut& org) {
  for (int32_t i = 0; i < org.m_match_count; ++i) {
    VelaRecord& rec = org.m_rec[i];
    if (rec.m_output_flag != 0 && isListed(rec.m_recid)) {
      rec.m_output_flag = 0;
      --org.m_output_count;
    }
  }
  p_inclist_array.clear();
  p_inclist_array.shrink_to_fit();
}

int IncListRecordFilter::filterOrgHits(const std::string& incHome, uint32_t orgRecordCount,
                                       VelaOut& org) {
  filter_inclist list;
  const int rc = list.init_inclist(incHome, orgRecordCount);
  if (rc == kIncListOk) list.filterInclist(org);
  return rc == kIncListOk || rc == kIncListNone ? 0 : rc;
}
