/// @file filter_inclist.h
/// @brief The superseded-record filter: org records that the inc index holds
/// again (kIncIdListFile of the inc index) leave the org hits.

#ifndef SEARCHRUN_ASSEMBLE_FILTER_INCLIST_H
#define SEARCHRUN_ASSEMBLE_FILTER_INCLIST_H

#include <cstdint>
#include <string>
#include <vector>

#include "search/search_request.h"
#include "search/vela_out.h"
#include "system/index_format.h"
#include "system/result_codes.h"

// Results of init_inclist.
constexpr int kIncListOk = 0;
constexpr int kIncListNoMemory = kNoMemoryCode;
constexpr int kIncListBadId = 1019;  // an id above the org record count
constexpr int kIncListNone = 5002;   // no list or an empty one: nothing to filter

class filter_inclist {
 public:
  // Loads dir + "/" + kIncIdListFile: 7-bit-group org record ids, up
  // to a zero byte or the end of the file (a value cut short by the end is
  // dropped; an id of 0 names no record and is skipped). Returns
  // kIncListOk, kIncListNone, kIncListNoMemory, or kIncListBadId (the list
  // is then empty again and filters nothing).
  int init_inclist(const std::string& dir, unsigned long orgRecordCount);

  // Deselects every still selected hit of `org` whose record is listed
  // (m_output_flag 0, m_output_count - 1), then releases the list. Record
  // ids outside 1..orgRecordCount are not listed.
  void filterInclist(VelaOut& org);

  // Whether org record `recid` is listed.
  bool isListed(int64_t recid) const;

 private:
  std::vector<unsigned char> p_inclist_array;  // bit (id - 1) per listed id
};

// The filter as the local search applies it to an org index's hits (the
// request flow hands it down in the search request).
class IncListRecordFilter final : public IncListFilter {
 public:
  // Loads the list of the inc index at `incHome` and deselects the org hits
  // it names. 0 when filtered or there is no list; otherwise the loader's
  // code (kIncListNoMemory, kIncListBadId), which ends the job.
  int filterOrgHits(const std::string& incHome, uint32_t orgRecordCount, VelaOut& org) override;
};

#endif  // SEARCHRUN_ASSEMBLE_FILTER_INCLIST_H
