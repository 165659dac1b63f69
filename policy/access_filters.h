/// @file access_filters.h
/// @brief The access-right filters of the searches of this host's indexes:
/// before each job runs, the ACL filters of its org and inc hits are armed
/// for the user the request comes from (ntfs_filter.h).

#ifndef SEARCHRUN_POLICY_ACCESS_FILTERS_H
#define SEARCHRUN_POLICY_ACCESS_FILTERS_H

#include <optional>
#include <string>
#include <vector>

#include "access/ntfs_filter.h"
#include "search/search_request.h"
#include "search/vela_search.h"
#include "system/vela_search_list.h"
#include "text/similar_doc.h"

// Who a search is made for.
struct AccessIdentity {
  // The user the request was admitted as (signed in with a valid permit, or
  // the built-in account); unset when nobody vouches for the requester, as
  // for a search another host's agent request asks for.
  std::optional<std::string> user;
  // The request's "domain" variable; unset: the configured directory domain.
  std::optional<std::string> domain;
};

// The engine runs of the ACL filters: the process runner and the binout
// reader of the searches.
class AclEngineRunner final : public AclEngine {
 public:
  int runCommand(const std::string& command) override;
  int readHits(const std::string& bytes, int& count, std::vector<uint32_t>& ids) override;
};

// Arms, for each local job, the filters of the index's protections: the
// ACL builder's when "acl_builder_option.cfg" marks it, the file ACL's when
// "doc_ntfs.cfg" does (both when both do: a hit must pass each). A remote
// job gets none here: the agent of its host filters. The file ACL knows
// users by their directory domain; without directory login ("ldap.sch")
// nobody has one, and only what everyone may read is shown.
class AccessJobFilters final : public SearchJobFilters {
 public:
  void setIdentity(const AccessIdentity& who) { m_who = who; }
  void arm(velaSearch& job) override;

  // The filters, for tests: builder and file ACL, org and inc.
  NTFSSearchResult& builderFilter(bool inc) { return inc ? m_incBuilder : m_orgBuilder; }
  NTFSSearchResult& fileFilter(bool inc) { return inc ? m_incFile : m_orgFile; }

 private:
  // The filters of one side, applied one after the other.
  class Side final : public ResultSetFilter {
   public:
    Side(NTFSSearchResult& builder, NTFSSearchResult& file) : m_builder(builder), m_file(file) {}
    void filterResultSet(VelaOut& set) override;

   private:
    NTFSSearchResult& m_builder;
    NTFSSearchResult& m_file;
  };

  AccessIdentity m_who;
  AclEngineRunner m_engine;
  NTFSSearchResult m_orgBuilder{&m_engine}, m_incBuilder{&m_engine};
  NTFSSearchResult m_orgFile{&m_engine}, m_incFile{&m_engine};
  Side m_org{m_orgBuilder, m_orgFile};
  Side m_inc{m_incBuilder, m_incFile};
};

// Which of `ids` (record numbers as a search block gives them: the inc
// records after the org ones) of the index `index` of `owner` on this host
// `who` may see, in their order: all of them for an index without
// protection. For the answers that describe records by number.
std::vector<uint32_t> visibleRecords(const std::string& owner, const std::string& index,
                                     const std::vector<uint32_t>& ids, const AccessIdentity& who);

// True when the record a similar-document marker names lies in an index of
// this host among `selected` and `who` may see it: the only records whose
// words a marker may stand for.
bool similarDocRecordReadable(const SimilarDocMarker& marker, const VelaSearchListVector& selected,
                              const AccessIdentity& who);

#endif  // SEARCHRUN_POLICY_ACCESS_FILTERS_H
