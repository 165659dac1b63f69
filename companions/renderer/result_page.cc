/// @file result_page.cc
/// @brief Reading one page of a search result and the data of its hits.

#include "companions/renderer/result_page.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <utility>

#include "companions/doctext/html_entities.h"
#include "companions/doctext/render_text.h"
#include "companions/records/document_read.h"
#include "companions/records/remote_records.h"
#include "output/query_output.h"
#include "system/numbers.h"
#include "text/similar_doc.h"

namespace render {

namespace {

constexpr std::string_view kFastSuffix = "_fast";
constexpr const char* kDisallowedQuery = "_QUERY_DISALLOWED_";
// Limits on what one page shows of the side texts.
constexpr size_t kMaxDescriptors = 1000;
constexpr size_t kMaxIndexLines = 1000;
constexpr size_t kMaxRelatedTerms = 30;
constexpr size_t kMaxSimilarKeywords = 20;
constexpr size_t kMaxGroups = 100;
constexpr size_t kMaxClasses = 200;
constexpr size_t kSideLineChars = 1023;

bool endsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// The text before and after the first tab; false without one.
bool splitTab(const std::string& line, std::string& first, std::string& rest) {
  const size_t tab = line.find('\t');
  if (tab == std::string::npos) return false;
  first = line.substr(0, tab);
  rest = line.substr(tab + 1);
  return true;
}

// A main page link must be a plain web address: no scheme but http(s), and
// nothing that could leave an attribute.
std::string safeMainPageUrl(const std::string& url) {
  if (url == "NONE" || url.empty()) return "";
  const bool schemeOk = url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0 ||
                        (url[0] == '/' && url.compare(0, 2, "//") != 0);
  const bool charsOk = std::all_of(url.begin(), url.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && c != '"' && c != '<' && c != '>' && c != '\\' && c != '`' &&
           c != '\'';
  });
  return schemeOk && charsOk ? url : "";
}

// The date of a filter line ("BEGIN_DATA=y/m/d"), kept only when it is
// made of digits, "/" and "-".
std::string filterDate(const std::string& line, const std::string& key) {
  if (line.compare(0, key.size(), key) != 0) return "";
  const std::string value = line.substr(key.size());
  return value.find_first_not_of("0123456789/-") == std::string::npos ? value : "";
}

// Whether `term` is one of the blank-separated words of `query` (ASCII
// letters compared ignoring case).
bool isQueryWord(std::string_view term, std::string_view query) {
  for (std::string_view word : splitFields(query, " "))
    if (word.size() == term.size() &&
        std::equal(word.begin(), word.end(), term.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        }))
      return true;
  return false;
}

// The related terms of all indexes, each once and none the query holds
// already, each with the query it refines to. `query` is the query as typed
// (local code page).
std::vector<TermLink> relatedTerms(const std::string& text, const std::string& query,
                                   int language) {
  std::vector<TermLink> terms;
  for (std::string_view group : splitFields(text, kGroupEndDelim)) {
    for (std::string_view term : splitFields(group, kFieldDelim)) {
      if (term.empty() || terms.size() >= kMaxRelatedTerms || isQueryWord(term, query)) continue;
      const bool seen = std::any_of(terms.begin(), terms.end(),
                                    [&](const TermLink& t) { return t.local == term; });
      if (!seen)
        terms.push_back({std::string(term), localToUtf8(term, language), -1,
                         query.empty() ? std::string(term) : query + " " + std::string(term)});
    }
  }
  return terms;
}

// The similar-document query of a hit of this host: its index and its
// number within the org or the inc index. None for an index whose id the
// query's marker cannot carry.
std::string similarQueryOf(const RecordLine& l, const IndexRecordReader& reader,
                           const RecordDetails& d) {
  if (!d.found || l.recid < 1 || l.index.find('-') != std::string::npos) return "";
  const uint32_t recid = static_cast<uint32_t>(l.recid);
  const bool inc = recid > reader.orgCount();
  return makeSimilarDocMarker(l.index, inc ? recid - reader.orgCount() : recid, inc);
}

// What the agent of another host made of one of its hits: the hit opens
// (through this host's view, which asks that agent), and shows the
// document's own title, the snippet and the similar-document link as a hit
// of this host would.
void showRemoteView(const RemoteRecordView& view, HitView& hit) {
  if (!view.found) return;
  hit.local = true;
  if (!view.docTitle.empty()) hit.title = view.docTitle;
  if (!view.pieces.empty()) {
    Snippet snippet;
    snippet.cutBefore = view.cutBefore;
    snippet.cutAfter = view.cutAfter;
    for (const auto& [text, term] : view.pieces)
      snippet.pieces.push_back({text, term});
    hit.snippet = std::move(snippet);
  }
  const size_t dash = view.similar.find('-');
  int64_t record = 0;
  if (dash != std::string::npos && hit.line.index.find('-') == std::string::npos &&
      parseDecimal(view.similar.substr(0, dash), 1, INT32_MAX, record))
    hit.similarQuery = makeSimilarDocMarker(hit.line.index, static_cast<unsigned long>(record),
                                            view.similar.substr(dash + 1) == "1");
}

// The description of the selected-search descriptor "host D owner D desc".
std::string selectedDescription(const std::string& text, int language) {
  const std::vector<std::string_view> f = splitFields(text, kFieldDelim);
  return f.size() >= 3 ? localToUtf8(f[2], language) : "";
}

bool isDecimalPort(const std::string& text) {
  int64_t port = 0;
  return parseDecimal(text, 1, 65535, port);
}

std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

ResultReader::ResultReader(std::string tmpDir, Installation installation)
    : tmpDir_(std::move(tmpDir)),
      inst_(std::move(installation)),
      file_(std::make_unique<CQueryOutput>()) {}

ResultReader::~ResultReader() = default;

LoadStatus ResultReader::open(const std::string& name) {
  base_ = endsWith(name, kFastSuffix) ? name.substr(0, name.size() - kFastSuffix.size()) : name;
  std::vector<std::string> candidates{name};
  if (name == base_) candidates.push_back(name + std::string(kFastSuffix));
  LoadStatus status = LoadStatus::kNotFound;
  for (const std::string& c : candidates) {
    bool missing = false;
    UniqueFd fd;
    if (given_ && c == givenName_) {
      fd = std::move(given_);
      if (!isOwnPrivateFile(fd.get())) fd.reset();
    } else {
      fd = openOwnFile(tmpDir_ + "/" + c, missing);
    }
    if (!fd) {
      if (!missing) status = LoadStatus::kDamaged;
      continue;
    }
    if (file_->ReadOutputFile(std::move(fd)) && file_->GetMatchCount() >= 0 &&
        file_->GetRecordCount() >= 0 && file_->GetMultiDbCount() >= 0) {
      opened_ = c;
      return LoadStatus::kOk;
    }
    // The full file may still be being written while its fast file stands.
    file_->CloseOutputFile();
    status = LoadStatus::kDamaged;
  }
  return status;
}

void ResultReader::give(const std::string& name, UniqueFd file) {
  givenName_ = name;
  given_ = std::move(file);
}

std::string ResultReader::user() const {
  return opened_.empty() ? "" : file_->GetQueryUser();
}

std::vector<std::string> ResultReader::sideFileLines(const char* suffix, size_t maxLines) const {
  bool missing = false;
  const UniqueFd fd = openOwnFile(tmpDir_ + "/" + base_ + suffix, missing);
  std::string bytes;
  if (!fd || !readRegularPrefix(fd.get(), kMaxSideFileBytes, bytes)) return {};
  return splitLines(bytes, maxLines, kSideLineChars);
}

void ResultReader::readIndexDescriptors() {
  const int language = inst_.language;
  descriptors_.clear();
  const size_t count =
      std::min<size_t>(static_cast<size_t>(file_->GetMultiDbCount()), kMaxDescriptors);
  for (size_t i = 0; i < count; ++i) {
    const std::string text = file_->GetMultiDbURL(static_cast<int>(i));
    const std::vector<std::string_view> f = splitFields(text, kFieldDelim);
    // Position 0 stands for "all indexes", not for an index.
    if (f.size() < 4 || (f[3] == "all" && f[2] == "all")) continue;
    descriptors_.push_back({std::string(f[3]), std::string(f[1]), localToUtf8(f[2], language), -1,
                            std::string(f[0]), f.size() > 4 ? std::string(f[4]) : ""});
  }
}

void ResultReader::readSideFiles(ResultPage& page) const {
  const int language = inst_.language;
  for (const std::string& line : sideFileLines("_idx", kMaxIndexLines)) {
    const std::vector<std::string_view> f = splitFields(line, "\t");
    int64_t matches = -1;
    if (f.size() != 4 || !parseDecimal(f[3], -1, INT32_MAX, matches)) continue;
    IndexEntry e{std::string(f[2]), localToUtf8(f[1], language), "", static_cast<int>(matches),
                 std::string(f[0])};
    for (const IndexEntry& d : descriptors_) {
      if (d.name != e.name || d.owner != f[1]) continue;
      e.desc = d.desc;
      // Another host's index is searched again through its agent's port.
      if (d.host == e.host && !inst_.isLocalHost(e.host) && isDecimalPort(d.port)) e.port = d.port;
    }
    page.indexes.push_back(e);
  }
  for (const std::string& line : sideFileLines(".filter", 2)) {
    // A line with an empty date is an open end of a window that is on.
    page.dateWindow |= line.rfind("BEGIN_DATA=", 0) == 0 || line.rfind("END_DATA=", 0) == 0;
    if (page.dateFrom.empty()) page.dateFrom = filterDate(line, "BEGIN_DATA=");
    if (page.dateTo.empty()) page.dateTo = filterDate(line, "END_DATA=");
  }
  bool inClasses = false;
  for (const std::string& line : sideFileLines("_class", kMaxClasses + 2)) {
    std::string name, uid;
    if (line == "==CLASS==" || line == "==INDEX==") {
      inClasses = line == "==CLASS==";
    } else if (inClasses && splitTab(line, name, uid)) {
      page.classes.push_back({localToUtf8(name, language), uid});
    }
  }
  const std::vector<std::string> groups = sideFileLines(".group", kMaxGroups + 1);
  for (size_t k = 1; k < groups.size(); ++k) {
    std::string count, value;
    int64_t hits = 0;
    if (!splitTab(groups[k], count, value) || value.empty() ||
        !parseDecimal(count, 1, INT64_MAX, hits))
      continue;
    page.groups.emplace_back(localToUtf8(value, language), hits);
  }
  if (!page.groups.empty()) page.groupField = groups[0];
  for (const std::string& line : sideFileLines("_similar_keyword", kMaxSimilarKeywords)) {
    std::string word, score;
    int64_t value = -1;
    if (!splitTab(line, word, score) || word.empty()) continue;
    parseDecimal(score, INT32_MIN, INT32_MAX, value);
    page.similarKeywords.push_back({word, localToUtf8(word, language), static_cast<int>(value)});
  }
}

LoadStatus ResultReader::load(const RenderRequest& request, ResultPage& page) {
  if (opened_.empty()) return LoadStatus::kNotFound;
  page = ResultPage{};
  page.resultName = opened_;
  readSettings(request, page);
  readTexts(page);
  readIndexDescriptors();
  if (file_->HasReadError()) return LoadStatus::kDamaged;
  page.searched = descriptors_;
  readSideFiles(page);
  readFieldClauses(page);
  page.bestScore = bestScore(page);
  if (file_->HasReadError()) return LoadStatus::kDamaged;
  return readHits(page);
}

LoadStatus ResultReader::loadHit(const RenderRequest& request, ResultPage& page,
                                 RecordDetails& details) {
  if (opened_.empty()) return LoadStatus::kNotFound;
  page = ResultPage{};
  details = RecordDetails{};
  page.resultName = opened_;
  readSettings(request, page);
  readTexts(page);
  readIndexDescriptors();
  if (file_->HasReadError()) return LoadStatus::kDamaged;
  page.searched = descriptors_;
  readFieldClauses(page);
  if (request.view < 1 || request.view > page.linesInFile) return LoadStatus::kNotFound;
  page.page = (request.view - 1) / page.pageSize + 1;
  page.bestScore = bestScore(page);
  HitView hit;
  hit.rank = request.view;
  const std::string text = file_->GetRecordData(static_cast<int>(request.view - 1));
  if (file_->HasReadError()) return LoadStatus::kDamaged;
  if (!parseRecordLine(text, hit.line)) return LoadStatus::kNotFound;
  if (inst_.isLocalHost(hit.line.host)) {
    IndexRecordReader reader(inst_, hit.line.owner, hit.line.index, kept_);
    details = reader.read(static_cast<uint32_t>(hit.line.recid));
    if (!details.found) return LoadStatus::kRecordsUnreadable;
    reader.readStoredText(static_cast<uint32_t>(hit.line.recid), details);
  }
  describeHit(details, hit, details.fields);
  page.hits.push_back(std::move(hit));
  return LoadStatus::kOk;
}

int ResultReader::bestScore(const ResultPage& page) {
  if (page.linesInFile == 0) return 0;
  const auto scoreAt = [this](int64_t i) {
    RecordLine line;
    return parseRecordLine(file_->GetRecordData(static_cast<int>(i)), line) ? line.score : 0;
  };
  // Ordered by score, the best is at one end of the file; a fast output file
  // holds the front of the order asked for, so by descending score it holds
  // the best too, and its first page measures hits as the later ones do.
  const bool byScore = page.sortField == "score";
  if (byScore && (page.linesInFile >= page.totalHits || page.sortOrder == "desc"))
    return std::max(scoreAt(0), scoreAt(page.linesInFile - 1));
  // Lines still missing may hold a better score.
  if (page.linesInFile < page.totalHits) return 0;
  if (page.linesInFile > kMaxRelevanceScan) return 0;
  int best = 0;
  for (int64_t i = 0; i < page.linesInFile && !file_->HasReadError(); ++i)
    best = std::max(best, scoreAt(i));
  return best;
}

void ResultReader::readSettings(const RenderRequest& request, ResultPage& page) const {
  const CQueryOutput& f = *file_;
  const int stored = f.GetOutputCountPerPage();
  page.pageSize = request.pageSize > 0 ? request.pageSize
                  : stored > 0         ? std::min(stored, kMaxPageSize)
                                       : kDefaultPageSize;
  page.linesInFile = f.GetMatchCount();
  page.totalHits = std::max<int64_t>(f.GetRecordCount(), f.GetMatchCount());
  page.pageCount = (page.totalHits + page.pageSize - 1) / page.pageSize;
  // Past the end (an old link, a typed number) the last page is the answer.
  page.page = std::clamp<int64_t>(request.page, 1, std::max<int64_t>(page.pageCount, 1));
  page.runTimeMs = f.GetQueryRunTime();
  page.sortField = f.GetSortField();
  page.sortOrder = f.GetSortOrder();
  page.user = f.GetQueryUser();
  page.language = inst_.language;
  page.fuzzy = f.GetFuzzyOption() != 0;
  page.thesaurus = f.GetMeanOption() != 0;
  page.matchMode = f.GetMatchMode();
  page.mainPageUrl = safeMainPageUrl(f.GetMainPageUrl());
}

void ResultReader::readTexts(ResultPage& page) {
  const int language = inst_.language;
  CQueryOutput& f = *file_;
  page.queryUrl = f.GetQueryURL();
  page.searchFields = searchFormFields(page.queryUrl, language);
  page.queryUnderstood = localToUtf8(f.GetQueryKeyword(), language);
  const std::string typed = f.GetQueryTerm();
  page.queryDisallowed = typed == kDisallowedQuery;
  page.queryTyped = page.queryDisallowed ? "" : localToUtf8(typed, language);
  page.selectedIndex = selectedDescription(f.GetQueryIndexName(), language);
  if (f.GetRelTermOption() != 0)
    page.relatedTerms = relatedTerms(f.GetRelTerm(), page.queryDisallowed ? "" : typed, language);
  page.terms = highlightTerms(page.queryUnderstood);
}

void ResultReader::readFieldClauses(ResultPage& page) const {
  // searchrun's mark of a run of clauses in the property search state.
  constexpr int kFieldSearchState = -2;
  if (file_->GetFileNameSearch() != kFieldSearchState || page.searched.size() != 1) return;
  // A clause whose column the index lacks was not searched.
  const IndexEntry& index = page.searched.front();
  const std::vector<std::string> columns = inst_.isLocalHost(index.host)
                                               ? indexColumnNames(inst_, index.owner, index.name)
                                               : std::vector<std::string>{};
  page.fieldClauses =
      fieldClausesOf(page.queryUrl, inst_.language, [&columns](const std::string& field) {
        return std::find(columns.begin(), columns.end(), field) != columns.end();
      });
  // The index list names the index once per clause, as not searched (the
  // clauses' counts are not kept): it was searched once, for these hits.
  if (!page.fieldClauses.empty() && !page.indexes.empty()) {
    page.indexes.resize(1);
    page.indexes.front().matches = page.totalHits;
  }
}

LoadStatus ResultReader::readHits(ResultPage& page) {
  const int64_t first = (page.page - 1) * static_cast<int64_t>(page.pageSize);
  const int64_t wanted = std::min<int64_t>(first + page.pageSize, page.totalHits);
  const int64_t last = std::min<int64_t>(wanted, page.linesInFile);
  page.linesMissing = wanted > page.linesInFile && first < page.totalHits;
  std::vector<HitView> hits;
  RemoteRecords remote;
  for (int64_t i = first; i < last; ++i) {
    HitView& hit = hits.emplace_back();
    hit.rank = i + 1;
    const std::string text = file_->GetRecordData(static_cast<int>(i));
    if (file_->HasReadError()) return LoadStatus::kDamaged;
    if (!parseRecordLine(text, hit.line)) {
      hits.pop_back();
      continue;
    }
    if (!inst_.isLocalHost(hit.line.host)) remote.want(hit.line);
  }
  RemoteViewContext context;
  context.user = page.user;
  context.terms = page.terms;
  context.snippetBytes = page.matchMode == 0   ? 0
                         : page.matchMode == 1 ? kWordSnippetBytes
                                               : kLineSnippetBytes;
  remote.fetch(context);
  // One reader per index of this host, one opener for all their documents.
  std::map<std::string, std::unique_ptr<IndexRecordReader>> readers;
  DocumentOpener documents;
  for (HitView& hit : hits) {
    const RecordLine& l = hit.line;
    const bool here = inst_.isLocalHost(l.host);
    RecordDetails d = remote.details(l);
    if (here) {
      auto& reader = readers[l.owner + std::string(kFieldDelim) + l.index];
      if (!reader) reader = std::make_unique<IndexRecordReader>(inst_, l.owner, l.index, kept_);
      d = reader->read(static_cast<uint32_t>(l.recid));
      // Shown without its record, a hit would be a name made up here.
      if (!d.found) return LoadStatus::kRecordsUnreadable;
      if (page.matchMode != 0 && page.hits.size() < kMaxSnippetDocuments)
        reader->readStoredText(static_cast<uint32_t>(l.recid), d);
      hit.similarQuery = similarQueryOf(l, *reader, d);
      // A copy changed or removed since the build is no copy any more.
      for (uint32_t id : reader->copiesOf(static_cast<uint32_t>(l.recid), kMaxCopiesListed)) {
        const RecordDetails copy = reader->read(id);
        if (copy.found && documents.open(copy, inst_.language)) {
          const std::string where =
              localToUtf8(copy.location.empty() ? copy.fileName : copy.location, inst_.language);
          hit.copies.push_back(where);
        }
      }
    }
    fillHit(d, here, page, page.hits.size() < kMaxSnippetDocuments ? &documents : nullptr, hit);
    if (const RemoteRecordView* view = here ? nullptr : remote.view(l)) showRemoteView(*view, hit);
    page.hits.push_back(std::move(hit));
  }
  return LoadStatus::kOk;
}

void ResultReader::describeHit(
    const RecordSummary& d, HitView& hit,
    const std::vector<std::pair<std::string, std::string>>& fields) const {
  const int language = inst_.language;
  for (const IndexEntry& e : descriptors_)
    if (e.name == hit.line.index && e.owner == hit.line.owner) hit.indexDesc = e.desc;
  if (hit.indexDesc.empty()) hit.indexDesc = localToUtf8(hit.line.index, language);
  hit.local = d.found;
  hit.fileName = localToUtf8(d.fileName, language);
  hit.location = localToUtf8(d.location, language);
  if (hit.fileName.empty()) hit.fileName = baseName(hit.location);
  if (hit.fileName.empty()) hit.fileName = "record " + std::to_string(hit.line.recid);
  hit.html = isHtmlName(hit.location.empty() ? hit.fileName : hit.location);
  hit.title = localToUtf8(d.title, language);
  hit.firstLine = localToUtf8(d.firstLine, language);
  if (hit.html) {
    hit.title = decodeRecordedReferences(hit.title);
    hit.firstLine = decodeRecordedReferences(hit.firstLine);
  }
  hit.time = d.time;
  hit.size = d.size;
  hit.hasSize = d.hasSize;
  for (const auto& [name, cell] : fields)
    hit.fields.emplace_back(localToUtf8(name, language), localToUtf8(cell, language));
}

void ResultReader::fillHit(const RecordDetails& d, bool here, const ResultPage& page,
                           DocumentOpener* documents, HitView& hit) const {
  const int language = inst_.language;
  describeHit(d, hit, d.fields);
  // Another host's document cannot be shown from here.
  hit.local = hit.local && here;
  const UniqueFd fd = here && documents ? documents->open(d, language) : UniqueFd();
  std::unique_ptr<FileHead> head = fd ? std::make_unique<FileHead>(fd.get()) : nullptr;
  const DocumentHead read = [&head](size_t n, std::string_view& b) { return head->read(n, b); };
  // The document's own title is decoded once; the recorded one may not be.
  if (head && hit.html) documentTitle(read, d.location, language, hit.title);
  if (page.matchMode == 0) return;
  const size_t bytes = page.matchMode == 1 ? kWordSnippetBytes : kLineSnippetBytes;
  const bool fromDocument =
      head && recordSnippet(d, read, language, page.terms, bytes, hit.snippet);
  if (!fromDocument) hit.snippet = makeSnippet(hit.firstLine, page.terms, bytes);
}

}  // namespace render
