/// @file remote_record_view.h
/// @brief What another host's agent tells of one of its records so that a
/// hit of that host shows as one of this host: its details with a snippet
/// and its similar-document record, its document (as text for the view, or
/// its own bytes), and the terms a similar-document search stands for. The
/// agent decides what the user the request names may see, as it decides for
/// its own pages; a record that user may not see is described as not found.
///
/// F = kFieldDelim, E = kGroupEndDelim (system/delimiters.h).
///   request  "get_record_view" 04 05 06
///            mode F user F owner F index F ids F number F terms E 18 19 1A
///     mode    "snippet": 1 to kMaxViewRecords ids, number = snippet bytes
///             "text", "raw": one id, number 0
///             "similar": one id, its number within its part; number 1 for
///             the inc part, 0 for the org part
///     ids     "%u " each (merged numbering, org then inc, but "similar")
///     terms   the terms to mark, blank-separated (snippet; else empty)
///   answers
///     snippet  per id: found F fileName F location F time F size F title F
///              firstLine F docTitle F cut F similar F pieces F; then E
///     text     the same nine record fields, E, the readable text (UTF-8)
///     raw      the same nine record fields, E, the document's bytes
///     similar  term list F E            (an empty list: none)
///     or "RETURN_CODE" F code E
///   found "1" or "0"; time and size decimal or empty; cut "0" to "3" (1:
///   the text goes on before, 2: after); similar "" or "record-flag" (the
///   marker's parts); pieces: each "+" (a term) or "-" and its text, joined
///   by 0x1F. Every text carries bytes below 0x20, 0x7F and "%" as "%XX"
///   (system/recorded_path.h), so no text holds a delimiter. Title, first
///   line, file name and location are in the agent's local code page, the
///   document title, snippet and view text in UTF-8.

#ifndef SEARCHRUN_SEARCH_REMOTE_RECORD_VIEW_H
#define SEARCHRUN_SEARCH_REMOTE_RECORD_VIEW_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

constexpr char kRecordViewCommand[] = "get_record_view";
constexpr char kViewModeSnippet[] = "snippet";
constexpr char kViewModeText[] = "text";
constexpr char kViewModeRaw[] = "raw";
constexpr char kViewModeSimilar[] = "similar";

// Records one snippet request may name, terms it may carry, longest term,
// largest snippet and longest user name.
constexpr size_t kMaxViewRecords = 100;
constexpr size_t kMaxViewTerms = 32;
constexpr size_t kMaxViewTermBytes = 255;
constexpr uint32_t kMaxViewSnippetBytes = 1024;
constexpr size_t kMaxViewUserBytes = 255;
// Texts of a record are cut to this many bytes before they are sent.
constexpr size_t kMaxViewText = 2048;
// Largest document the agent sends whole ("raw"); larger ones are refused.
constexpr size_t kMaxRemoteDocumentBytes = 32u << 20;

struct RemoteViewRequest {
  std::string mode;
  std::string user;  // "" when nobody vouches for the requester
  std::string owner;
  std::string index;
  std::vector<uint32_t> ids;
  uint32_t number = 0;
  std::vector<std::string> terms;
};

// The request's bytes. False for an unknown mode, a count of ids or terms
// the mode does not allow, an id of 0, a number out of range, or an owner or
// index holding a control byte.
bool buildRecordViewRequest(const RemoteViewRequest& request, std::string& bytes);
// The agent's reader: false unless `bytes` is one whole request as
// buildRecordViewRequest makes them.
bool parseRecordViewRequest(std::string_view bytes, RemoteViewRequest& request);

// What an index's directories tell of one record, as both record exchanges
// (this one and "get_record_info") carry it. Texts as recorded, in the
// local code page of the host that read them.
struct RecordSummary {
  bool found = false;  // the record's directory and info line were there
  std::string fileName;
  std::string title;
  std::string firstLine;
  std::string location;  // below the index's source folder; "" when unknown
  uint32_t time = 0;     // modification time the builder saw; 0 when unknown
  bool hasTime = false;
  uint32_t size = 0;  // size the builder saw (cut at 4 GiB - 1)
  bool hasSize = false;
};

struct RemoteRecordView : RecordSummary {
  std::string docTitle;  // the document's own title (HTML), UTF-8
  bool cutBefore = false;
  bool cutAfter = false;
  std::string similar;                               // "record-flag", "" when none
  std::vector<std::pair<std::string, bool>> pieces;  // text, is a term
};

// The agent's answers. The snippet answer: one record after the other, then
// closeSnippetAnswer.
void appendSnippetRecord(const RemoteRecordView& record, std::string& bytes);
void closeSnippetAnswer(std::string& bytes);
void buildDocumentAnswer(const RemoteRecordView& record, std::string_view body, std::string& bytes);
void buildSimilarAnswer(std::string_view terms, std::string& bytes);

// Readers of the answers. The snippet answer must hold one record per id
// asked; the document answer gives its body as all the bytes after the
// head. False, outputs unspecified, for a "RETURN_CODE" answer or any
// answer of another shape.
bool parseSnippetAnswer(std::string_view bytes, size_t records, std::vector<RemoteRecordView>& out);
bool parseDocumentAnswer(std::string_view bytes, RemoteRecordView& record, std::string& body);
bool parseSimilarAnswer(std::string_view bytes, std::string& terms);

// The summary's fields as both record exchanges write them, each ended by
// F: found F fileName F location F time F size F title F firstLine F. Texts
// are cut to kMaxViewText bytes and escaped; a number unknown is empty.
void appendRecordSummary(const RecordSummary& record, std::string& bytes);
// Reads those seven fields from fields[at]; false for any other spelling
// (a number with a leading zero, a bad escape).
bool readRecordSummary(const std::vector<std::string_view>& fields, size_t at,
                       RecordSummary& record);

// The agent's code of a "RETURN_CODE" answer ended by its E; 0 for any
// other text.
int returnCodeOf(std::string_view bytes);

#endif  // SEARCHRUN_SEARCH_REMOTE_RECORD_VIEW_H
