/// @file result_page.h
/// @brief One page of a search result as the writers show it: read from the
/// query output file and the side files in ../tmp, with each hit's record data
/// and snippet looked up. All texts are UTF-8 unless a member says otherwise.

#ifndef SEARCHRUN_COMPANIONS_RENDERER_RESULT_PAGE_H
#define SEARCHRUN_COMPANIONS_RENDERER_RESULT_PAGE_H

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "access/sign_in.h"
#include "companions/doctext/snippet.h"
#include "companions/records/record_lookup.h"
#include "companions/renderer/render_request.h"
#include "system/secure_file.h"

class CQueryOutput;

namespace render {

// Page size used when neither the request nor the result gives one.
constexpr int kDefaultPageSize = 10;
// Snippet lengths by the result's match mode: word (1), line (other modes);
// mode 0 shows none.
constexpr size_t kWordSnippetBytes = 100;
constexpr size_t kLineSnippetBytes = 220;
// The built-in account that searches without a permit.
using ::kBuiltInUser;
// Largest side file read; the lists a page shows of them are far shorter.
constexpr size_t kMaxSideFileBytes = 1024 * 1024;
// Documents read for snippets per page; later hits of a larger page show
// their first line instead, so one page never reads more than about
// kMaxSnippetDocuments * kMaxDocumentBytes.
constexpr size_t kMaxSnippetDocuments = 100;
// Record lines read to find the best score of a result not ordered by
// score; a larger result shows no relevance then.
constexpr int64_t kMaxRelevanceScan = 10000;

// A term offered as a new query: its bytes in the local code page (for the
// link back to searchrun) and for display.
struct TermLink {
  std::string local;
  std::string text;
  int score = -1;  // similar keywords only
  // Related terms: the query with the term added, which narrows the result
  // to what the term is about (local code page).
  std::string refine{};
};

struct ClassEntry {
  std::string name;
  std::string uid;  // local code page, as in the class file
};

struct IndexEntry {
  std::string name;  // index id
  std::string owner;
  std::string desc;
  int matches = -1;    // -1: not searched
  std::string host;    // address as the result names it
  std::string port{};  // the agent's port of another host's index; "" here
};

struct HitView {
  int64_t rank = 0;  // position in the whole result, from 1
  RecordLine line;
  bool local = false;  // the record data was found on this host
  std::string fileName;
  std::string title;
  std::string firstLine;
  // Where the document lies below its index's source folder; "" when
  // unknown. Never a server path: the folder itself is not shown.
  std::string location;
  uint32_t time = 0;
  uint32_t size = 0;
  bool hasSize = false;
  std::string indexDesc;
  Snippet snippet;
  // The document is HTML (by its name): its title may hold references.
  bool html = false;
  // A row of a database index: column names and cells (UTF-8); empty for a
  // document.
  std::vector<std::pair<std::string, std::string>> fields{};
  // The query that finds documents like this one (hits of this host only:
  // the query program reads the record's terms here); "" when none.
  std::string similarQuery{};
  // Where the other copies of the document (records of the same content in
  // its index, shown as this one hit) lie, UTF-8; only those still as the
  // index read them, at most kMaxCopiesListed.
  std::vector<std::string> copies{};
};

constexpr size_t kMaxCopiesListed = 50;

struct ResultPage {
  std::string resultName;  // the file read: B, or B_fast while B is missing
  int64_t totalHits = 0;   // merged hits of the search
  int64_t linesInFile = 0;
  int64_t page = 1;
  int pageSize = kDefaultPageSize;
  int64_t pageCount = 0;
  int runTimeMs = 0;
  std::string sortField;
  std::string sortOrder;
  std::string queryUnderstood;
  std::string queryTyped;
  bool queryDisallowed = false;  // the exclusion list refused the query
  std::string queryUrl;          // raw request text of the search (escaped)
  std::string selectedIndex;
  // The indexes the search named (the result's descriptors, "all" left
  // out): "all" above means every one of them.
  std::vector<IndexEntry> searched;
  // The variables of the search's request a new search from this page
  // keeps (searchFormFields), in UTF-8.
  std::vector<std::pair<std::string, std::string>> searchFields;
  // The clauses of a search by fields, what it searched instead of a
  // query; empty for any other search.
  std::vector<FieldClause> fieldClauses;
  std::string user;   // local code page
  int language = -1;  // installation language (layout.h code)
  // The best score of the whole result; 0 when unknown (too many lines to
  // read, or lines still missing), and then no relevance is shown.
  int bestScore = 0;
  std::vector<std::string> terms;
  bool fuzzy = false;
  bool thesaurus = false;
  int matchMode = 0;
  std::vector<TermLink> relatedTerms;
  std::vector<TermLink> similarKeywords;
  std::vector<ClassEntry> classes;
  std::vector<IndexEntry> indexes;
  // The hits grouped by a field (the ".group" side file): the field, and
  // each value with its hits (UTF-8), most first.
  std::string groupField;
  std::vector<std::pair<std::string, int64_t>> groups;
  bool dateWindow = false;  // the search kept only documents dated in a window
  std::string dateFrom;     // "y/m/d" of the date window, "" when open or none
  std::string dateTo;
  std::string mainPageUrl;  // "" when none or not a plain http(s) or site URL
  std::vector<HitView> hits;
  // The page lies beyond the lines the file holds (a fast output file, or
  // a result cut short): its hits are missing, not absent.
  bool linesMissing = false;
};

// kRecordsUnreadable: a hit of this host whose record the index cannot give
// (its record files emptied or damaged, or the index rebuilt with fewer
// records since the search): its page would show nothing true of it.
enum class LoadStatus { kOk, kNotFound, kDamaged, kRecordsUnreadable };

// The result files of one search in a directory (../tmp for the program).
// Every file of a result is opened link-proof and believed only when it
// belongs to the renderer's own account (openOwnFile).
class ResultReader {
 public:
  ResultReader(std::string tmpDir, Installation installation);
  ~ResultReader();
  ResultReader(const ResultReader&) = delete;
  ResultReader& operator=(const ResultReader&) = delete;

  // Opens the query output file of `name` (a valid result name, see
  // render_request.h): name itself when it reads, else name + "_fast" (the
  // run writes the full file after showing the first page, and removes the
  // fast file once the full one is complete). kNotFound when neither
  // exists, kDamaged when what exists cannot be read or its counts are
  // negative. What is not a regular file of our own (a link, a FIFO, a file
  // of another account) is kDamaged.
  LoadStatus open(const std::string& name);
  // `file`, open, is what open(name) reads for `name` instead of the file
  // of that name (its checks are the same).
  void give(const std::string& name, UniqueFd file);
  // The records of this host's indexes are read from directories kept in
  // `kept` (which outlives the reader) instead of opened for this page.
  void keepIndexDirectoriesIn(KeptIndexDirectories* kept) { kept_ = kept; }

  // The user who searched (local code page); "" before open.
  std::string user() const;
  // True for an address of this host (a hit whose record is read here).
  bool isLocalHost(const std::string& ip) const { return inst_.isLocalHost(ip); }

  // Fills `page` with the requested page; a page past the last one is the
  // last page. kDamaged when a text or record line of the page cannot be
  // read; a record line of the wrong form is left out; kRecordsUnreadable
  // when the record of a hit of this host cannot be read.
  LoadStatus load(const RenderRequest& request, ResultPage& page);

  // Fills `page` with the texts of the result and the one hit at position
  // request.view (from 1) without its snippet, `page.page` the page that
  // holds it, and `details` with its record, from which its document is
  // opened (openRecordedDocument). kNotFound when the result has no such
  // line or it is not a record line; kDamaged and kRecordsUnreadable as
  // load. A hit of another host gives details.found = false.
  LoadStatus loadHit(const RenderRequest& request, ResultPage& page, RecordDetails& details);

  // What the record data and the index descriptors show of a hit whose
  // line is read (also for the record another host's agent described), with
  // the columns of a database row.
  void describeHit(const RecordSummary& d, HitView& hit,
                   const std::vector<std::pair<std::string, std::string>>& fields = {}) const;

 private:
  void readSettings(const RenderRequest& request, ResultPage& page) const;
  void readTexts(ResultPage& page);
  void readSideFiles(ResultPage& page) const;
  // The clauses of a search by fields (after the index descriptors and the
  // side files).
  void readFieldClauses(ResultPage& page) const;
  LoadStatus readHits(ResultPage& page);
  void readIndexDescriptors();
  // The best score of the result (see ResultPage::bestScore).
  int bestScore(const ResultPage& page);
  // Index description, title and snippet of a hit whose line and record
  // data `d` are read; `here` when the record is of this host. The document
  // is read (for the snippet and an HTML title) only for a record of this
  // host and when `documents` (the page's) is given.
  void fillHit(const RecordDetails& d, bool here, const ResultPage& page, DocumentOpener* documents,
               HitView& hit) const;
  // The lines of a side file (at most maxLines of kSideLineChars bytes).
  std::vector<std::string> sideFileLines(const char* suffix, size_t maxLines) const;

  std::string tmpDir_;
  Installation inst_;
  std::string base_;  // result name without "_fast"
  std::string opened_;
  std::string givenName_;
  UniqueFd given_;
  std::unique_ptr<CQueryOutput> file_;
  std::vector<IndexEntry> descriptors_;
  KeptIndexDirectories* kept_ = nullptr;
};

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_RENDERER_RESULT_PAGE_H
