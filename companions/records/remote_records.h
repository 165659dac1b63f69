/// @file remote_records.h
/// @brief The details of hits held by another host, asked of that host's
/// agent: a page's renderer cannot read another host's index files.
///
/// F = kFieldDelim, E = kGroupEndDelim (system/delimiters.h).
///   request  "get_record_info" 04 05 06 { owner F index F ids E } 18 19 1A
///            ids: "%u " each, merged numbering (org, then inc)
///   answer   per group, in request order: per id, in request order:
///              found F fileName F location F time F size F title F firstLine F
///            then E
///            or "RETURN_CODE" F code E (a group the agent does not hold)
/// found is "1" or "0"; time and size are decimal, or empty when unknown;
/// texts carry every byte below 0x20, 0x7F and "%" as "%XX"
/// (system/recorded_path.h), so no text can hold a delimiter. The location
/// is relative to the index's source folder: an answer never names a
/// server path.

#ifndef SEARCHRUN_COMPANIONS_RECORDS_REMOTE_RECORDS_H
#define SEARCHRUN_COMPANIONS_RECORDS_REMOTE_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "companions/records/record_lookup.h"
#include "search/remote_record_view.h"

namespace render {

constexpr char kRecordInfoCommand[] = "get_record_info";
// Records one request may ask for, all groups together (a page's worth),
// and groups (indexes).
constexpr size_t kMaxRemoteRecords = 1000;
constexpr size_t kMaxRemoteGroups = 100;

struct RemoteRecordGroup {
  std::string owner;
  std::string index;
  std::vector<uint32_t> ids;  // each at least 1
};

// The request's bytes. False when there is no group or no id, too many of
// either, an id of 0, or an owner or index holding a control byte (it could
// hold a delimiter).
bool buildRecordInfoRequest(const std::vector<RemoteRecordGroup>& groups, std::string& bytes);
// The agent's reader: false unless `bytes` is one whole request as
// buildRecordInfoRequest makes them.
bool parseRecordInfoRequest(std::string_view bytes, std::vector<RemoteRecordGroup>& groups);

// The agent answers with each record's summary (appendRecordSummary; the
// source folder is never sent) and ends each group with E.

// Reads an answer to the request of `asked`: one list of details per group,
// one per id. False, `out` unspecified, for a RETURN_CODE answer or any
// answer of another shape (a count that differs, a field that is no number,
// a bad escape).
bool parseRecordInfoAnswer(std::string_view bytes, const std::vector<RemoteRecordGroup>& asked,
                           std::vector<std::vector<RecordDetails>>& out);

// Who a page is shown to and what its snippets mark: the agents decide for
// that user and cut the snippets as this host would.
struct RemoteViewContext {
  std::string user;  // local code page, as the result names it
  std::vector<std::string> terms;
  size_t snippetBytes = 0;  // 0: no snippets
};

// The details of hits of other hosts on one page: every index of a host is
// asked once for all its hits of the page (get_record_view: the details
// with the snippet and similar-document record the agent made), within the
// installation's bounds of an exchange (system/net_exchange.h). An index
// whose agent does not answer that (an older agent) is asked for the bare
// details (get_record_info) instead. A host that cannot be asked, or answers
// with anything but what was asked, leaves its hits without details.
class RemoteRecords {
 public:
  // Notes a hit whose details are wanted.
  void want(const RecordLine& line);
  // Asks every host noted of its hits.
  void fetch(const RemoteViewContext& context = {});
  // The details of a hit noted; found = false when its host gave none.
  RecordDetails details(const RecordLine& line) const;
  // The view of a hit its agent gave; null when it gave none.
  const RemoteRecordView* view(const RecordLine& line) const;

 private:
  // Hits noted per "host:port", grouped by index.
  std::map<std::string, std::vector<RemoteRecordGroup>> asked_;
  std::map<std::string, RecordDetails> got_;
  std::map<std::string, RemoteRecordView> views_;
};

// The document of the hit `line` from its host's agent, for `user`: its
// readable text (raw false) or its own bytes (raw true) in `body`. False
// when the host is not an allowed agent, cannot be asked, answers anything
// else, or does not show the record (view.found false then).
bool fetchRemoteDocument(const RecordLine& line, const std::string& user, bool raw,
                         RemoteRecordView& view, std::string& body);

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_RECORDS_REMOTE_RECORDS_H
