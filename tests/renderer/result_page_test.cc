/// @file result_page_test.cc
/// @brief Reading a result page: which file is read, how pages are cut from it,
/// what the side files add, and the record data of each hit; and the
/// record-details exchange with another host's agent: texts that hold delimiter
/// bytes come back whole, and answers of any other shape give no details at
/// all.

#include "companions/renderer/result_page.h"

#include "companions/renderer/page_writer.h"

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "companions/doctext/stored_text.h"
#include "companions/records/document_read.h"
#include "companions/records/remote_records.h"
#include "output/renderer_handoff.h"
#include "system/delimiters.h"
#include "system/file_identity.h"
#include "system/layout.h"
#include "system/secure_file.h"
#include "tests/process_run.h"
#include "tests/renderer/renderer_fixture.h"
#include "tests/test_util.h"

namespace render {
namespace {

using namespace rendertest;

std::string u32(size_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  return std::string(reinterpret_cast<const char*>(&u), 4);
}

// The record-info files of an index as the builder writes them, one record
// per info line, and (when given) each record's time and size.
void writeIndex(const std::string& home, const std::vector<std::string>& infos,
                const std::vector<std::pair<uint32_t, uint32_t>>& timeAndSize = {}) {
  std::string data, offsets, times, sizes;
  for (const std::string& info : infos) {
    offsets += u32(data.size());
    data += info + "@\n";
  }
  for (const auto& [time, size] : timeAndSize) {
    times += u32(time);
    sizes += u32(size);
  }
  if (!timeAndSize.empty()) {
    testutil::writeFile(home + "/morna_time_list", times);
    testutil::writeFile(home + "/morna_size_list", sizes);
  }
  testutil::writeFile(home + "/.vela_recoffset", offsets + u32(data.size()));
  testutil::writeFile(home + "/vela_recdata_0", data);
  testutil::writeFile(home + "/.vela_recinfo", u32(1) + u32(4) + "vela" + u32(1) + u32(14) +
                                                   "vela_recdata_0" + u32(infos.size() + 1));
  testutil::writeFile(home + "/.vela_log_1", u32(infos.size()) + std::string(8, '\0'));
}

class ResultPageTest : public ::testing::Test {
 protected:
  ResultPageTest() : cwd_(testutil::makeInstallSkeleton(root_.path())) {
    testutil::writeFile(root_.sub("setting/system_info.cfg"),
                        "SYSTEM_DIRECTORY=" + root_.sub("system") + "\nDOMAIN_NAME=domain\n");
    systemResetCaches();
  }
  ~ResultPageTest() override { systemResetCaches(); }

  std::string home(const std::string& index) const {
    return root_.sub("system/group/domain/User/alice/index/" + index);
  }
  std::string tmp(const std::string& name) const { return root_.sub("tmp/" + name); }
  // Writes the result with hits 1..n of index "news" of another host appended.
  // An installation that names no host address of its own takes every host
  // for itself: unless the test wrote index "news", one of n records stands
  // for those hits here.
  void write(const std::string& name, ResultSpec spec, int n = 0) const {
    std::vector<std::string> infos;
    for (int i = 1; i <= n; ++i) {
      spec.lines.push_back(recordLine("alice", "news", 1000 - i, i, "10.9.9.9"));
      infos.push_back("@P:doc" + std::to_string(i) + ".txt\n");
    }
    struct stat st;
    const bool ours = generated_ > 0 || lstat((home("news") + "/.vela_recinfo").c_str(), &st) != 0;
    if (n > generated_ && ours) {
      writeIndex(home("news"), infos);
      generated_ = n;
    }
    ASSERT_TRUE(writeResult(tmp(name), spec));
  }
  static Installation installation() {
    Installation inst = Installation::read();
    inst.language = kLangEN;
    return inst;
  }
  LoadStatus load(const std::string& name, int number = 1, int size = 0) {
    ResultReader reader("../tmp", installation());
    RenderRequest request;
    request.page = number;
    request.pageSize = size;
    const LoadStatus opened = reader.open(name);
    return opened != LoadStatus::kOk ? opened : reader.load(request, page_);
  }
  // Loads hit `position` alone into page_ and details_, as its view does.
  LoadStatus loadHit(int64_t position) {
    ResultReader reader("../tmp", installation());
    RenderRequest request;
    request.view = position;
    details_ = RecordDetails();
    const LoadStatus opened = reader.open("query12345");
    return opened != LoadStatus::kOk ? opened : reader.loadHit(request, page_, details_);
  }

  testutil::TempDir root_;
  testutil::ScopedCwd cwd_;
  ResultPage page_;
  RecordDetails details_;
  mutable int generated_ = 0;  // records of the index "news" write() wrote
};

// Which files openOwnFile refuses (links, FIFOs, files others may change or
// own) is tested with it; here, that a refused file is a damaged result.
TEST_F(ResultPageTest, WhatIsNotAPlainResultFileIsNotRead) {
  write("query11111", {}, 1);
  ASSERT_EQ(symlink(tmp("query11111").c_str(), tmp("query22222").c_str()), 0);
  testutil::makeDirs(tmp("query33333"));
  ResultSpec negative;
  negative.recordCount = -5;
  write("query44444", negative);
  for (const char* bad : {"query22222", "query33333", "query44444"})
    EXPECT_EQ(load(bad), LoadStatus::kDamaged) << bad;
  EXPECT_EQ(load("query11111_fast"), LoadStatus::kNotFound);
  // A bad record line is left out; record lines cut off make the file damaged.
  ResultSpec spec;
  spec.lines = {"garbage without fields\n"};
  write("query11111", spec, 2);
  ASSERT_EQ(load("query11111"), LoadStatus::kOk);
  ASSERT_EQ(page_.hits.size(), 2u);
  EXPECT_EQ(page_.hits[0].line.recid, 1);
  const std::string bytes = testutil::readFile(tmp("query11111"));
  writePrivate(tmp("query11111"), bytes.substr(0, bytes.size() - 20));
  EXPECT_EQ(load("query11111"), LoadStatus::kDamaged);
}

TEST_F(ResultPageTest, TheFastFileStandsInWhileTheFullOneIsWritten) {
  ResultSpec fast;
  fast.recordCount = 25;
  write("query12345_fast", fast, 10);
  writePrivate(tmp("query12345"), std::string(100, '\0'));
  ASSERT_EQ(load("query12345", 2), LoadStatus::kOk);
  EXPECT_EQ(page_.resultName, "query12345_fast");
  EXPECT_EQ(page_.pageCount, 3);
  EXPECT_TRUE(page_.hits.empty());  // beyond the fast file: missing, not absent
  EXPECT_TRUE(page_.linesMissing);
}

TEST_F(ResultPageTest, PagesAreCutFromTheFileInItsOrder) {
  // Stored page size, requested page and size; page size, first record, hits, page count.
  const std::tuple<int, int, int, int, int, size_t, int64_t> cases[] = {
      {10, 3, 0, 10, 21, 5, 3},
      {10, 2, 4, 4, 5, 4, 7},
      // Past the end, the last page.
      {10, INT32_MAX, kMaxPageSize, kMaxPageSize, 1, 25, 1},
      {10, 9, 0, 10, 21, 5, 3},
      {0, 1, 0, kDefaultPageSize, 1, 10, 3},
      {5000, 1, 0, kMaxPageSize, 1, 25, 1},
  };
  for (const auto& [stored, number, size, pageSize, first, hits, pageCount] : cases) {
    ResultSpec spec;
    spec.perPage = stored;
    write("query12345", spec, 25);
    ASSERT_EQ(load("query12345", number, size), LoadStatus::kOk);
    EXPECT_EQ(page_.pageSize, pageSize);
    EXPECT_EQ(page_.pageCount, pageCount);
    ASSERT_EQ(page_.hits.size(), hits) << number << "/" << size;
    EXPECT_EQ(page_.hits[0].line.recid, first);
    EXPECT_EQ(page_.hits[0].rank, first);
    EXPECT_EQ(page_.page, (first - 1) / pageSize + 1);
    EXPECT_EQ(page_.hits.back().line.recid, first + static_cast<int>(hits) - 1);
  }
  // An empty result has its only page whatever is asked.
  write("query12345", {});
  ASSERT_EQ(load("query12345", 5), LoadStatus::kOk);
  EXPECT_EQ(page_.page, 1);
  EXPECT_EQ(page_.pageCount, 0);
  EXPECT_TRUE(page_.hits.empty());
  EXPECT_FALSE(page_.linesMissing);
}

TEST_F(ResultPageTest, RelevanceIsMeasuredAgainstTheBestHitOfTheWholeResult) {
  // Sort field, scores in the file's order, records in the file (recordCount), best.
  const std::tuple<std::string, std::vector<int>, int, int> cases[] = {
      {"score", {90, 50, 10}, INT_MIN, 90},
      {"score", {10, 50, 90}, INT_MIN, 90},  // ascending: the best is last
      {"date", {20, 95, 30}, INT_MIN, 95},   // any other order: every line read
      // A fast file holds the front of the order: by score, the best is
      // there, so its first page shows relevance as the later ones do.
      {"score", {90, 50}, 40, 90},
      {"date", {90, 50}, 40, 0},  // by another order lines still missing may hold better
      {"date", {}, INT_MIN, 0},
  };
  writeIndex(home("news"), std::vector<std::string>(10, "@P:a.txt\n"));
  for (const auto& [field, scores, records, best] : cases) {
    ResultSpec spec;
    spec.sortField = field;
    spec.recordCount = records;
    for (size_t i = 0; i < scores.size(); ++i)
      spec.lines.push_back(recordLine("alice", "news", scores[i], static_cast<int>(i) + 1));
    write("query12345", spec);
    ASSERT_EQ(load("query12345", 1, 1), LoadStatus::kOk);
    EXPECT_EQ(page_.bestScore, best) << field << " " << scores.size();
  }
  // Too many lines to read for a page: no relevance rather than a guess.
  ResultSpec many;
  many.sortField = "date";
  for (int i = 1; i <= kMaxRelevanceScan + 1; ++i)
    many.lines.push_back(recordLine("alice", "news", i, i));
  write("query12345", many);
  ASSERT_EQ(load("query12345"), LoadStatus::kOk);
  EXPECT_EQ(page_.bestScore, 0);
}

TEST(RecordLine, FieldsAndOwnersAreChecked) {
  RecordLine l;
  ASSERT_TRUE(parseRecordLine(recordLine("/g", "news", -7, 42, "10.0.0.5"), l));
  EXPECT_EQ(l.host, "10.0.0.5");
  EXPECT_EQ(l.port, "20001");
  EXPECT_EQ(l.score, -7);
  const std::string d = D;
  for (const std::string& bad : {"h" + d + "o" + d + "i" + d + "1" + d + "2",  // no port
                                 "h:1" + d + "o" + d + "i" + d + "1",          // a field short
                                 "h:1" + d + "o" + d + "i" + d + "1" + d + "0"})
    EXPECT_FALSE(parseRecordLine(bad, l)) << bad;
  for (const char* ok : {"/groupA", "\\groupB", "a..b"})
    EXPECT_TRUE(isSafeOwner(ok)) << ok;
  for (const std::string& bad : std::vector<std::string>{
           "", "..", "/g/../../etc", "a/..", std::string(256, 'a'), std::string("a\0b", 3)})
    EXPECT_FALSE(isSafeOwner(bad)) << bad;
}

TEST_F(ResultPageTest, RecordsAreFoundInTheOrgOrTheIncIndex) {
  const std::string docs = root_.sub("docs");
  writeIndex(home("news"), {"@P:sub/a.txt\n@T:Annual\n@B:Intro.\n", "@P:" + docs + "/b.txt\n",
                            "@P:../../etc/passwd\n", "@P:/etc/passwd\n"});
  writeIndex(home("news_inc"), {"@P:new.txt\n@T:New\n"});
  testutil::writeFile(home("news") + "/source_folder", docs + "/\n");
  IndexRecordReader reader(installation(), "alice", "news");
  const RecordDetails a = reader.read(1), inc = reader.read(5);  // inc: its record 1
  EXPECT_TRUE(a.found);
  EXPECT_EQ(a.title + "|" + a.firstLine + "|" + a.sourceFolder, "Annual|Intro.|" + docs + "/");
  EXPECT_EQ(inc.title + "|" + inc.sourceFolder, "New|");  // the inc index names no source folder
  // Below the folder, absolute below it; never climbing out nor naming what lies elsewhere.
  std::vector<std::string> locations;
  for (uint32_t r = 1; r <= 5; ++r)
    locations.push_back(reader.read(r).location);
  EXPECT_EQ(locations, (std::vector<std::string>{"sub/a.txt", "b.txt", "", "", "new.txt"}));
  EXPECT_FALSE(reader.read(6).found || reader.read(0).found);
  EXPECT_FALSE(IndexRecordReader(installation(), "../alice", "news").read(1).found ||
               IndexRecordReader(installation(), "alice", "../news").read(1).found);
}

TEST_F(ResultPageTest, RecordInfoIsReadOnlyFromTheIndexsOwnFiles) {
  const std::string other = root_.sub("other");
  writeIndex(other, {"@P:secret.txt\n@T:Secret\n"});
  writeIndex(home("news"), {"@P:a.txt\n@T:Mine\n"});
  ASSERT_EQ(IndexRecordReader(installation(), "alice", "news").read(1).title, "Mine");
  // Each record-info file in turn replaced by a link to another index's.
  for (const char* file : {".vela_recinfo", ".vela_recoffset", "vela_recdata_0"}) {
    const std::string path = home("news") + "/" + file;
    ASSERT_EQ(rename(path.c_str(), (path + ".saved").c_str()), 0);
    ASSERT_EQ(symlink((other + "/" + file).c_str(), path.c_str()), 0);
    EXPECT_FALSE(IndexRecordReader(installation(), "alice", "news").read(1).found) << file;
    ASSERT_EQ(unlink(path.c_str()), 0);
    ASSERT_EQ(rename((path + ".saved").c_str(), path.c_str()), 0);
  }
  // A record whose offsets claim far more than any info line holds.
  std::string big = "@P:a.txt\n@T:" + std::string(kMaxInfoLine, 'x');
  writeIndex(home("news"), {big, "@P:b.txt\n@T:Fine\n"});
  IndexRecordReader two(installation(), "alice", "news");
  EXPECT_FALSE(two.read(1).found);
  EXPECT_EQ(two.read(2).title, "Fine");
}

// Emptied record files once made up a "record N" title for every hit.
TEST_F(ResultPageTest, AHitWhoseRecordCannotBeReadFailsItsPage) {
  writeIndex(home("news"), {"@P:a.txt\n@T:A\n", "@P:b.txt\n@T:B\n"});
  testutil::writeFile(root_.sub("host_address"), "10.0.0.1\n");
  ResultSpec spec;
  spec.lines = {recordLine("alice", "news", 90, 1, "10.0.0.1"),
                recordLine("alice", "news", 80, 2, "10.0.0.1"),
                recordLine("alice", "news", 70, 9, "10.9.9.9")};
  write("query12345", spec);
  ASSERT_EQ(load("query12345"), LoadStatus::kOk);
  ASSERT_EQ(page_.hits.size(), 3u);
  EXPECT_EQ(page_.hits[1].title, "B");
  for (const char* file : {".vela_recinfo", ".vela_recoffset", "vela_recdata_0"}) {
    const std::string path = home("news") + "/" + file;
    const std::string bytes = testutil::readFile(path);
    testutil::writeFile(path, "");
    EXPECT_EQ(load("query12345"), LoadStatus::kRecordsUnreadable) << file;
    EXPECT_EQ(loadHit(1), LoadStatus::kRecordsUnreadable) << file;
    testutil::writeFile(path, bytes);
  }
  // Built again with fewer records since the search: hit 2 names none.
  writeIndex(home("news"), {"@P:a.txt\n@T:A\n"});
  EXPECT_EQ(load("query12345"), LoadStatus::kRecordsUnreadable);
  EXPECT_EQ(loadHit(2), LoadStatus::kRecordsUnreadable);
  EXPECT_EQ(loadHit(1), LoadStatus::kOk);
  // Another host's hit is asked of that host, not read here.
  EXPECT_EQ(loadHit(3), LoadStatus::kOk);
}

TEST_F(ResultPageTest, OneReaderReadsEveryRecordFromTheFilesItOpenedFirst) {
  writeIndex(home("news"), {"@P:a.txt\n@T:First\n", "@P:b.txt\n@T:Second\n"}, {{1, 10}, {2, 20}});
  testutil::writeFile(home("news") + "/morna_filename_list", "a.txtb.txt");
  testutil::writeFile(home("news") + "/morna_filename_list_index", u32(5) + u32(10));
  IndexRecordReader reader(installation(), "alice", "news");
  ASSERT_EQ(reader.read(1).title, "First");
  // The index is rebuilt while the page is read: the page stays with the
  // index it began with rather than mixing the two.
  ASSERT_EQ(rename(home("news").c_str(), home("news_old").c_str()), 0);
  writeIndex(home("news"), {"@P:x.txt\n@T:New\n", "@P:y.txt\n@T:Newer\n"}, {{3, 30}, {4, 40}});
  const RecordDetails second = reader.read(2);
  EXPECT_EQ(second.title + "|" + second.fileName, "Second|b.txt");
  EXPECT_EQ(second.time, 2u);
  EXPECT_EQ(second.size, 20u);
  EXPECT_EQ(IndexRecordReader(installation(), "alice", "news").read(2).title, "Newer");
}

TEST(RecordedPath, EscapesAreDecodedAndOnlyPathsBelowTheFolderShown) {
  const std::pair<const char*, const char*> decoded[] = {
      {"a%0Ab.txt", "a\nb.txt"},
      {"100%25.txt", "100%.txt"},
      {"%7f%7F", "\x7F\x7F"},
      {"50%.txt", "50%.txt"},
      {"a%4", "a%4"},
      {"%zz%", "%zz%"},
  };
  for (const auto& [recorded, path] : decoded)
    EXPECT_EQ(decodeRecordedPath(recorded), path) << recorded;
  const char* const below[][3] = {{"/d", "a/b.txt", "a/b.txt"},
                                  {"/d/", "/d/a.txt", "a.txt"},
                                  {"/d", "./a.txt", "a.txt"},
                                  {"/d", "/dx/a.txt", ""},
                                  {"/d", "/d", ""},
                                  {"", "/d/a.txt", ""},
                                  {"/d", "a/../../x", ""},
                                  {"/d", "..", ""},
                                  {"/d", "", ""},
                                  {"/", "/etc/passwd", "etc/passwd"}};
  for (const auto& [folder, recorded, location] : below)
    EXPECT_EQ(locationBelow(folder, recorded), location) << folder << " " << recorded;
  EXPECT_EQ(locationBelow("/d", std::string("a\0b", 3)), "");
}

// Documents are read at display time only while they are what the index read.
class DocumentTest : public ResultPageTest {
 protected:
  static constexpr uint32_t kTime = 1100000000;
  DocumentTest() : docs_(root_.sub("docs")) {
    testutil::writeFile(home("news") + "/source_folder", docs_ + "\n");
    testutil::writeFile(root_.sub("outside/secret.txt"), "secret");
  }
  // A document file with the time the index records.
  void doc(const std::string& rel, const std::string& bytes, time_t time = kTime) const {
    testutil::writeFile(docs_ + "/" + rel, bytes);
    const struct utimbuf times { time, time };
    utime((docs_ + "/" + rel).c_str(), &times);
  }
  // What the reader shows of record 1 recorded with that path and size,
  // opened by `page` (the opener of a page) or on its own.
  std::string shown(const std::string& recorded, uint32_t size = 6,
                    DocumentOpener* page = nullptr) const {
    writeIndex(home("news"), {"@P:" + recorded + "\n@T:T\n"}, {{kTime, size}});
    const RecordDetails d = IndexRecordReader(installation(), "alice", "news").read(1);
    const UniqueFd fd = page ? page->open(d, kLangEN) : openRecordedDocument(d, kLangEN);
    std::string bytes;
    return fd && readPrefix(fd.get(), 100, bytes) ? bytes : "(refused)";
  }
  // The result of records 1..n of "news" (scores 90, 80, ...) for `keyword`,
  // written and loaded.
  void loadRecords(int n, const std::string& keyword = "report") {
    ResultSpec spec;
    spec.keyword = keyword;
    for (int r = 1; r <= n; ++r)
      spec.lines.push_back(recordLine("alice", "news", 100 - 10 * r, r));
    write("query12345", spec);
    ASSERT_EQ(load("query12345"), LoadStatus::kOk);
    ASSERT_EQ(page_.hits.size(), static_cast<size_t>(n));
  }
  std::string docs_;
};

TEST_F(DocumentTest, OnlyTheRecordedFileBelowTheFolderIsRead) {
  doc("a.txt", "public");
  doc("sub/b.txt", "sub ok");
  doc("line\nfeed.txt", "escape");
  doc("changed.txt", "public", kTime + 1);
  doc("grown.txt", "public!");
  ASSERT_EQ(symlink((root_.sub("outside/secret.txt")).c_str(), (docs_ + "/link.txt").c_str()), 0);
  ASSERT_EQ(symlink(root_.sub("outside").c_str(), (docs_ + "/dirlink").c_str()), 0);
  ASSERT_EQ(symlink((docs_ + "/sub").c_str(), (docs_ + "/sublink").c_str()), 0);
  ASSERT_EQ(mkfifo((docs_ + "/pipe.txt").c_str(), 0600), 0);
  const utimbuf times{kTime, kTime};
  utime(root_.sub("outside/secret.txt").c_str(), &times);
  // Recorded path, recorded size, what is read.
  const std::tuple<std::string, uint32_t, std::string> cases[] = {
      {"a.txt", 6, "public"},
      {"sub/b.txt", 6, "sub ok"},
      {docs_ + "/a.txt", 6, "public"},            // absolute, below the folder
      {"line%0Afeed.txt", 6, "escape"},           // a name with a line feed
      {"sublink/b.txt", 6, "sub ok"},             // a link that stays inside
      {"link.txt", 6, "(refused)"},               // a link to the same size and time
      {"dirlink/secret.txt", 6, "(refused)"},     // a directory link leading out
      {"../outside/secret.txt", 6, "(refused)"},  // climbing out
      {root_.sub("outside/secret.txt"), 6, "(refused)"},
      {"changed.txt", 6, "(refused)"},  // changed since it was indexed
      {"grown.txt", 6, "(refused)"},
      {"a.txt", 7, "(refused)"},
      {"pipe.txt", 6, "(refused)"},  // would stall the page
      {"sub", 6, "(refused)"},
      {"missing.txt", 6, "(refused)"},
  };
  for (const auto& [recorded, size, text] : cases)
    EXPECT_EQ(shown(recorded, size), text) << recorded;
  // A page's opener keeps the folders it found, never a verdict on a file.
  DocumentOpener page;
  for (int round = 0; round < 2; ++round)
    for (const auto& [recorded, size, text] : cases)
      EXPECT_EQ(shown(recorded, size, &page), text) << "page: " << recorded;
  // Without the recorded time and size nothing shows that the file is the same.
  writeIndex(home("news"), {"@P:a.txt\n"});
  for (const char* list : {"/morna_time_list", "/morna_size_list"})
    ASSERT_EQ(unlink((home("news") + list).c_str()), 0);
  const RecordDetails d = IndexRecordReader(installation(), "alice", "news").read(1);
  EXPECT_EQ(d.location, "a.txt");
  EXPECT_FALSE(openRecordedDocument(d, kLangEN));
}

// The identity of the file at `path` as the builder records it.
std::string identityBytes(const std::string& path) {
  struct stat st;
  std::string bytes;
  if (stat(path.c_str(), &st) == 0) appendFileIdentity(bytes, identityOf(st));
  return bytes;
}

TEST_F(DocumentTest, OnlyTheFolderAndTheFileTheBuilderReadAreShown) {
  doc("a.txt", "public");
  const std::string real = root_.sub("docs.real");
  // What the builder recorded of docs and of a.txt, then a folder swapped in
  // under the folder's name holding a file of the same name, size and time.
  const auto recordIdentities = [&](const std::string& folderId, const std::string& fileIds) {
    testutil::writeFile(home("news") + "/" + kSourceFolderIdFile, folderId);
    testutil::writeFile(home("news") + "/" + kIdentityListFile, fileIds);
  };
  const std::string folderId = identityBytes(docs_), fileId = identityBytes(docs_ + "/a.txt");
  ASSERT_EQ(folderId.size(), kFileIdentityBytes);
  EXPECT_EQ(shown("a.txt"), "public");
  recordIdentities(folderId, fileId);
  EXPECT_EQ(shown("a.txt"), "public");
  ASSERT_EQ(rename(docs_.c_str(), real.c_str()), 0);
  ASSERT_EQ(symlink(root_.sub("outside").c_str(), docs_.c_str()), 0);
  testutil::writeFile(root_.sub("outside/a.txt"), "secret");
  const utimbuf times{kTime, kTime};
  ASSERT_EQ(utime(root_.sub("outside/a.txt").c_str(), &times), 0);
  EXPECT_EQ(shown("a.txt"), "(refused)");
  // The very folder through a link of its own is still the folder read,
  // by a path below it or by one through the link.
  ASSERT_EQ(unlink(docs_.c_str()), 0);
  ASSERT_EQ(symlink(real.c_str(), docs_.c_str()), 0);
  EXPECT_EQ(shown("a.txt"), "public");
  EXPECT_EQ(shown(docs_ + "/a.txt"), "public");
  ASSERT_EQ(unlink(docs_.c_str()), 0);
  ASSERT_EQ(rename(real.c_str(), docs_.c_str()), 0);
  // A hard link of the same size and time is not the file read either.
  ASSERT_EQ(rename((docs_ + "/a.txt").c_str(), (docs_ + "/a.saved").c_str()), 0);
  ASSERT_EQ(link(root_.sub("outside/a.txt").c_str(), (docs_ + "/a.txt").c_str()), 0);
  EXPECT_EQ(shown("a.txt"), "(refused)");
  ASSERT_EQ(unlink((docs_ + "/a.txt").c_str()), 0);
  ASSERT_EQ(rename((docs_ + "/a.saved").c_str(), (docs_ + "/a.txt").c_str()), 0);
  // An identity that cannot be read matches no folder; a record carried over
  // from an index without identities is checked as before.
  recordIdentities(folderId.substr(0, 8), fileId);
  EXPECT_EQ(shown("a.txt"), "(refused)");
  recordIdentities(folderId, std::string(kFileIdentityBytes, '\0'));
  EXPECT_EQ(shown("a.txt"), "public");
  recordIdentities(identityBytes(root_.sub("outside")), fileId);
  EXPECT_EQ(shown("a.txt"), "(refused)");
  // A page's opener checks each record against the folder it opened: another
  // index naming the same folder with another identity is refused.
  DocumentOpener page;
  recordIdentities(folderId, fileId);
  EXPECT_EQ(shown("a.txt", 6, &page), "public");
  recordIdentities(identityBytes(root_.sub("outside")), fileId);
  EXPECT_EQ(shown("a.txt", 6, &page), "(refused)");
  recordIdentities(folderId, identityBytes(root_.sub("outside/a.txt")));
  EXPECT_EQ(shown("a.txt", 6, &page), "(refused)");
  recordIdentities(folderId, fileId);
  EXPECT_EQ(shown("a.txt", 6, &page), "public");
}

// The page getfilelist.exe at `program` writes for result `name` (in the
// CGI folder, as searchrun starts it), with its exit status.
std::string renderedBy(const std::string& program, const std::string& name) {
  testutil::ProcessSpec spec;
  spec.path = program;
  spec.args = {"../tmp/" + name, "N", "N"};
  spec.env = {"REQUEST_METHOD=", "TZ=UTC"};
  spec.cwd = std::filesystem::current_path().string();
  const testutil::ProcessResult run = testutil::runProcess(spec);
  return run.out + "\n(exit " + std::to_string(run.exitStatus) + ")";
}

// The static renderer, which has no code page converters, writes every page
// its twin writes: a page of plain text itself, one with a document of
// another code page or of another installation language by the twin.
TEST_F(DocumentTest, TheStaticRendererWritesTheTwinsPages) {
  for (const char* program : {"getfilelist.exe", "getfilelist_conv.exe"})
    std::filesystem::copy_file(std::string(SEARCHRUN_RENDERER_DIR) + "/" + program, program);
  const std::string latin1 =
      "<html><head><meta charset=\"iso-8859-1\"><title>Caf\xe9 report"
      "</title></head><body>The caf\xe9 report</body></html>";
  doc("a.txt", "the report of the day");
  doc("b.html", latin1);
  writeIndex(home("news"), {"@P:a.txt\n@T:Plain\n", "@P:b.html\n@T:Latin\n"},
             {{kTime, 21}, {kTime, static_cast<uint32_t>(latin1.size())}});
  const std::string plain = "query" + std::string(30, '1'), mixed = "query" + std::string(30, '2');
  ResultSpec spec;
  spec.lines = {recordLine("alice", "news", 90, 1)};
  write(plain, spec);
  spec.lines.push_back(recordLine("alice", "news", 80, 2));
  write(mixed, spec);
  const auto same = [](const std::string& name, const char* shown) {
    const std::string page = renderedBy("./getfilelist.exe", name);
    EXPECT_NE(page.find(shown), std::string::npos) << page;
    EXPECT_NE(page.find("(exit 0)"), std::string::npos) << page;
    EXPECT_EQ(page, renderedBy("./getfilelist_conv.exe", name));
  };
  same(plain, "the <mark>report</mark> of the day");
  same(mixed, "Caf\xc3\xa9 report");
  {
    // Handed the first pages open, the static renderer puts them where its
    // twin reads them by name. (In an installation of English the static
    // one is started ahead, and hands a page with Latin-1 over.)
    testutil::writeFile(root_.sub("lang.cfg"), "EN\n");
    systemResetCaches();
    UniqueFd memory = createMemoryFile("fast");
    ASSERT_TRUE(memory && writeAll(memory.get(), testutil::readFile(tmp(mixed))));
    const testutil::ScopedEnv tz("TZ", "UTC");
    int status = -1;
    const std::string page = testutil::captureStdout([&] {
      WaitingRenderer ahead({});
      status = ahead.render({"../tmp/" + mixed + "_fast", "N", "N"}, 0, {}, memory.get());
    });
    EXPECT_EQ(page + "\n(exit " + std::to_string(status) + ")",
              renderedBy("./getfilelist.exe", mixed));
    EXPECT_EQ(testutil::readFile(tmp(mixed + "_fast")), testutil::readFile(tmp(mixed)));
  }
  testutil::writeFile(root_.sub("lang.cfg"), "JP\n");
  same(plain, "the <mark>report</mark> of the day");
  // Without its twin the static renderer writes no page of its own making.
  ASSERT_EQ(unlink("getfilelist_conv.exe"), 0);
  const std::string alone = renderedBy("./getfilelist.exe", mixed);
  EXPECT_EQ(alone.find("Caf"), std::string::npos) << alone;
  EXPECT_NE(alone.find("500"), std::string::npos) << alone;
}

TEST_F(DocumentTest, ALongDocumentIsStillCheckedAndShowsItsSnippetFromItsHead) {
  std::string bytes;
  for (int i = 0; bytes.size() < 300 * 1024; ++i)
    bytes += (i == 1500 ? "the annual report" : "line " + std::to_string(i)) + "\n";
  doc("long.txt", bytes);
  writeIndex(home("news"), {"@P:long.txt\n@B:first line\n"},
             {{kTime, static_cast<uint32_t>(bytes.size())}});
  loadRecords(1);
  const std::string expected =
      snippetText(makeSnippet(documentText(bytes.substr(0, kMaxDocumentBytes), "long.txt", kLangEN),
                              {"report"}, kLineSnippetBytes));
  EXPECT_NE(expected.find("report"), std::string::npos);
  EXPECT_EQ(snippetText(page_.hits[0].snippet), expected);
  // Read only in part, the document must still be the one indexed.
  doc("long.txt", bytes, kTime + 1);
  ASSERT_EQ(load("query12345"), LoadStatus::kOk);
  EXPECT_EQ(snippetText(page_.hits[0].snippet), "first line");
}

TEST_F(DocumentTest, HtmlTitlesShowTheirReferencesDecodedOnce) {
  const std::string html = "<title>Doc &mdash; own &amp;lt;b&amp;gt;</title><p>report</p>";
  doc("a.html", html);
  doc("a.txt", "report");
  const uint32_t htmlSize = static_cast<uint32_t>(html.size());
  // The builder recorded "&amp;lt;" as "&lt;", and left "&mdash;" as it was.
  writeIndex(home("news"),
             {"@P:a.html\n@T:Doc &mdash; own &lt;b&gt;\n@B:x &hellip;\n",
              "@P:a.txt\n@T:Text &mdash; as typed\n"},
             {{kTime, htmlSize}, {kTime, 6}});
  loadRecords(2);
  EXPECT_EQ(page_.hits[0].title, "Doc \xE2\x80\x94 own &lt;b&gt;");  // the document's own
  EXPECT_TRUE(page_.hits[0].html);
  EXPECT_EQ(page_.hits[0].firstLine, "x \xE2\x80\xA6");
  EXPECT_EQ(page_.hits[1].title, "Text &mdash; as typed");  // a text file means what it says
  EXPECT_FALSE(page_.hits[1].html);
  // Once the document changed, the record stands in, decoded as far as it may be.
  doc("a.html", html, kTime + 1);
  ASSERT_EQ(load("query12345"), LoadStatus::kOk);
  EXPECT_EQ(page_.hits[0].title, "Doc \xE2\x80\x94 own &lt;b&gt;");
}

TEST_F(DocumentTest, AHitIsLoadedAloneForItsView) {
  doc("a.txt", "public");
  writeIndex(home("news"), {"@P:a.txt\n@T:A\n", "@P:b.txt\n@T:B\n"}, {{kTime, 6}, {kTime, 6}});
  testutil::writeFile(root_.sub("host_address"), "10.0.0.1\n");
  ResultSpec spec;
  spec.perPage = 2;
  spec.lines = {recordLine("alice", "news", 90, 2, "10.0.0.1"), "garbage\n",
                recordLine("alice", "news", 70, 1, "10.0.0.1"),
                recordLine("alice", "news", 60, 1, "10.9.9.9")};
  write("query12345", spec);
  // Position; status, page, title, found.
  const std::tuple<int64_t, LoadStatus, int64_t, std::string, bool> cases[] = {
      {1, LoadStatus::kOk, 1, "B", true},       {3, LoadStatus::kOk, 2, "A", true},
      {4, LoadStatus::kOk, 2, "", false},  // another host's record: not here
      {2, LoadStatus::kNotFound, 0, "", false}, {5, LoadStatus::kNotFound, 0, "", false},
      {0, LoadStatus::kNotFound, 0, "", false},
  };
  for (const auto& [position, status, pageNumber, title, found] : cases) {
    ASSERT_EQ(loadHit(position), status) << position;
    if (status != LoadStatus::kOk) continue;
    ASSERT_EQ(page_.hits.size(), 1u);
    EXPECT_EQ(page_.hits[0].rank, position);
    EXPECT_EQ(page_.page, pageNumber);
    EXPECT_EQ(page_.hits[0].title, title);
    EXPECT_EQ(details_.found, found);
    EXPECT_EQ(page_.bestScore, 90);  // its view shows the relevance its result page does
    EXPECT_TRUE(page_.hits[0].snippet.empty());  // the view reads the document itself
  }
  ASSERT_EQ(loadHit(3), LoadStatus::kOk);
  const UniqueFd fd = openRecordedDocument(details_, kLangEN);
  std::string bytes;
  ASSERT_TRUE(fd && readPrefix(fd.get(), 100, bytes));
  EXPECT_EQ(bytes, "public");
}

// Stored texts as the builder writes them: record r's text, "" for none.
void writeStoredTexts(const std::string& dir, const std::vector<std::string>& texts) {
  std::string streams, ends;
  for (const std::string& text : texts) {
    if (!text.empty()) streams += compressStoredText(text);
    appendUInt64(ends, streams.size());
  }
  testutil::writeFile(dir + "/" + kStoredTextsFile, streams);
  testutil::writeFile(dir + "/" + kStoredTextEndsFile, ends);
}

// A PDF's words come from the text the builder kept, never from its bytes,
// and only while the document is the one indexed; a damaged text is never
// shown, a text file beside it reads as before.
TEST_F(DocumentTest, AKeptTextGivesSnippetAndViewWhileTheDocumentIsAsIndexed) {
  const std::string kept = "Quarterly report\fpage two holds the budget";
  doc("a.pdf", "%PDF-1.4 xyz");
  doc("b.txt", "plain budget");
  writeIndex(home("news"), {"@P:a.pdf\n@T:Report\n@B:first line\n", "@P:b.txt\n@T:B\n@B:b\n"},
             {{kTime, 12}, {kTime, 12}});
  writeStoredTexts(home("news"), {kept, ""});
  loadRecords(2, "budget");
  const auto snippets = [this] {
    EXPECT_EQ(load("query12345"), LoadStatus::kOk);
    return page_.hits.size() == 2
               ? snippetText(page_.hits[0].snippet) + "|" + snippetText(page_.hits[1].snippet)
               : "";
  };
  EXPECT_EQ(snippets(), "Quarterly report page two holds the budget|plain budget");
  const auto view = [this](DocumentView& shown) {
    const UniqueFd fd =
        loadHit(1) == LoadStatus::kOk ? openRecordedDocument(details_, kLangEN) : UniqueFd();
    return fd && readRecordView(details_, fd.get(), kLangEN, shown);
  };
  DocumentView shown;
  ASSERT_TRUE(view(shown));
  EXPECT_EQ(shown.text, kept);
  EXPECT_FALSE(shown.cut);

  // Changed since the build: the record's first line, and no view.
  doc("a.pdf", "%PDF-1.4 xyz", kTime + 1);
  EXPECT_EQ(snippets(), "first line|plain budget");
  EXPECT_FALSE(view(shown));
  doc("a.pdf", "%PDF-1.4 xyz");

  // A damaged stream: the first line, and a view that fails.
  std::string streams = testutil::readFile(home("news") + "/" + kStoredTextsFile);
  streams[streams.size() / 2] ^= 0x55;
  std::filesystem::remove(home("news") + "/" + kStoredTextsFile);
  testutil::writeFile(home("news") + "/" + kStoredTextsFile, streams);
  EXPECT_EQ(snippets(), "first line|plain budget");
  EXPECT_FALSE(view(shown));
}

TEST_F(ResultPageTest, HitsShowTheirRecordsSnippetsAndSideFiles) {
  writeIndex(home("news"), {"@P:/nowhere/b.txt\n@B:first report line\n"});
  testutil::writeFile(root_.sub("host_address"), "10.0.0.1\n");
  ResultSpec spec;
  spec.queryUrl = "user=alice&ks_key=alice1234567&query=report&index_id=7F000001_news&no_rec=5";
  spec.descriptors = {descriptor(" ", "all", "all", " "), descriptor("alice", "News", "news"),
                      descriptor("/grp", "Plans", "plans", "10.0.0.5")};
  spec.lines = {recordLine("alice", "news", 90, 1, "10.0.0.1")};
  spec.relTerms = std::string("alpha") + D + "beta" + D + "\x15\x16\x17" + "beta" + D + "gamma";
  spec.term = "_QUERY_DISALLOWED_";
  spec.keyword = "a,report";
  write("query12345", spec, 1);
  writePrivate(tmp("query12345_idx"),
               "127.0.0.1\talice\tnews\t12\n127.0.0.1\t/grp\tplans\t-1\nbad line\n");
  writePrivate(tmp("query12345.filter"), "BEGIN_DATA=2005/7/1\nEND_DATA=2005/7/20\n");
  writePrivate(tmp("query12345_class"), "==CLASS==\nReports\tC01\n==INDEX==\nx\tU\n");
  writePrivate(tmp("query12345_similar_keyword"), "reports\t87\nnotab\n");
  ASSERT_EQ(load("query12345"), LoadStatus::kOk);
  ASSERT_EQ(page_.hits.size(), 2u);
  // Without its document the first line stands in for the snippet.
  const HitView& b = page_.hits[0];
  EXPECT_TRUE(b.local);
  EXPECT_EQ(b.location, "");  // no source folder: nothing to show it below
  EXPECT_EQ(b.indexDesc, "News");
  ASSERT_EQ(b.snippet.pieces.size(), 3u);
  EXPECT_TRUE(b.snippet.pieces[1].term && b.snippet.pieces[1].text == "report");
  // A hit of another host: what the result says, though a record of that number is here.
  EXPECT_FALSE(page_.hits[1].local);
  EXPECT_EQ(page_.hits[1].fileName, "record 1");
  EXPECT_TRUE(page_.queryDisallowed);
  EXPECT_EQ(page_.queryTyped, "");
  ASSERT_EQ(page_.relatedTerms.size(), 3u);  // groups joined, duplicates dropped
  ASSERT_EQ(page_.indexes.size(), 2u);
  EXPECT_EQ(page_.indexes[1].desc, "Plans");
  EXPECT_EQ(page_.indexes[1].matches, -1);
  EXPECT_EQ(page_.dateTo, "2005/7/20");
  ASSERT_EQ(page_.classes.size(), 1u);
  ASSERT_EQ(page_.similarKeywords.size(), 1u);
  EXPECT_EQ(page_.similarKeywords[0].score, 87);
  // The searches, the indexes and the request come with the page.
  ASSERT_EQ(page_.searched.size(), 2u);  // "all" is no index
  EXPECT_EQ(page_.searched[1].desc, "Plans");
  EXPECT_EQ(page_.searched[1].host, "10.0.0.5");
  EXPECT_EQ(page_.searchFields,
            (std::vector<std::pair<std::string, std::string>>{
                {"user", "alice"}, {"index_id", "7F000001_news"}, {"no_rec", "5"}}));
  EXPECT_EQ(page_.language, kLangEN);
}

TEST_F(ResultPageTest, SideFilesAreReadOnlyWhenTheyAreOurOwn) {
  write("query12345", {}, 1);
  testutil::writeFile(root_.sub("elsewhere"), "==CLASS==\nStolen\tC01\n");
  ASSERT_EQ(symlink(root_.sub("elsewhere").c_str(), tmp("query12345_class").c_str()), 0);
  ASSERT_EQ(mkfifo(tmp("query12345_idx").c_str(), 0600), 0);
  writePrivate(tmp("query12345_similar_keyword"), "planted\t1\n");
  ASSERT_EQ(chmod(tmp("query12345_similar_keyword").c_str(), 0666), 0);
  writePrivate(tmp("query12345.filter"), "BEGIN_DATA=2005/7/1\nEND_DATA=2005/7/20\n");
  ASSERT_EQ(load("query12345"), LoadStatus::kOk);
  EXPECT_TRUE(page_.classes.empty());
  EXPECT_TRUE(page_.indexes.empty());
  EXPECT_TRUE(page_.similarKeywords.empty());
  EXPECT_EQ(page_.dateFrom, "2005/7/1");  // the one side file that is ours
  EXPECT_TRUE(page_.dateWindow);
  // An open end is an empty date of a window that is on.
  ASSERT_EQ(unlink(tmp("query12345.filter").c_str()), 0);
  writePrivate(tmp("query12345.filter"), "BEGIN_DATA=\nEND_DATA=2005/7/20\n");
  page_ = ResultPage();
  ASSERT_EQ(load("query12345"), LoadStatus::kOk);
  EXPECT_TRUE(page_.dateWindow);
  EXPECT_EQ(page_.dateFrom, "");
  EXPECT_EQ(page_.dateTo, "2005/7/20");
  // A side file of one endless line is read only so far.
  ASSERT_EQ(unlink(tmp("query12345_idx").c_str()), 0);
  writePrivate(tmp("query12345_idx"), std::string(8 * kMaxSideFileBytes, 'x') + "\n");
  ASSERT_EQ(load("query12345"), LoadStatus::kOk);
  EXPECT_TRUE(page_.indexes.empty());
}

TEST_F(ResultPageTest, OnlyPlainWebAddressesBecomeTheMainPageLink) {
  const std::pair<const char*, bool> cases[] = {
      {"http://h/i.html", true}, {"https://h/", true},       {"/search/", true},
      {"NONE", false},           {"//evil.example/", false}, {"javascript:alert(1)", false},
      {"http://a\"b", false},    {"http://a b", false}};
  for (const auto& [url, kept] : cases) {
    ResultSpec spec;
    spec.mainPage = url;
    write("query12345", spec);
    ASSERT_EQ(load("query12345"), LoadStatus::kOk);
    EXPECT_EQ(page_.mainPageUrl, kept ? url : "") << url;
  }
}

const std::string F = kFieldDelim, E = kGroupEndDelim, W = kCommandWordDelim,
                  END = kCommandEndDelim;

TEST(RemoteRecords, RequestsReadBackOnlyWhenWholeAndWellFormed) {
  const std::vector<RemoteRecordGroup> groups{{"/grp/a b", "news", {3, 1}}, {"bob", "x", {7}}};
  std::string bytes;
  ASSERT_TRUE(buildRecordInfoRequest(groups, bytes));
  EXPECT_EQ(bytes, "get_record_info" + W + "/grp/a b" + F + "news" + F + "3 1 " + E + "bob" + F +
                       "x" + F + "7 " + E + END);
  std::vector<RemoteRecordGroup> back;
  ASSERT_TRUE(parseRecordInfoRequest(bytes, back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].owner + back[0].index, "/grp/a bnews");
  EXPECT_EQ(back[0].ids, (std::vector<uint32_t>{3, 1}));
  for (size_t cut = 0; cut < bytes.size(); ++cut)
    EXPECT_FALSE(parseRecordInfoRequest(bytes.substr(0, cut), back)) << cut;

  const std::string head = "get_record_info" + W;
  const std::string bad[] = {
      bytes + "x", head + "o" + F + "i" + F + "0 " + E + END,
      head + "o" + F + "i" + F + "1" + E + END, head + "o" + F + "i" + F + "1  2 " + E + END,
      head + "o" + F + "i" + F + "4294967296 " + E + END,
      // one record, one spelling: what is read back builds the same bytes
      head + "o" + F + "i" + F + "08 " + E + END, head + "o" + F + "i" + F + "8 " + F + E + END,
      head + "o" + F + "i" + E + END, head + "o" + F + "i" + F + "1 " + E + END + END, head + END};
  for (const std::string& request : bad)
    EXPECT_FALSE(parseRecordInfoRequest(request, back)) << testing::PrintToString(request);
  std::vector<RemoteRecordGroup> tooMany{{"o", "i", std::vector<uint32_t>(kMaxRemoteRecords, 1)},
                                         {"o", "j", {1}}};
  const std::vector<std::vector<RemoteRecordGroup>> unbuildable{
      {}, tooMany, {{"o" + F, "i", {1}}}, {{"o", "i", {}}}, {{"o", "i", {0}}}};
  for (const auto& g : unbuildable)
    EXPECT_FALSE(buildRecordInfoRequest(g, bytes));
}

TEST(RemoteRecords, AnswersCarryEveryByteOfTheirTexts) {
  RecordDetails a;
  a.found = true;
  a.fileName = "a" + F + ".txt";
  a.location = "sub/%41" + E;
  a.title = "line\nbreak\x7f";
  a.firstLine = std::string(kMaxViewText + 10, 'x');
  a.time = 1100000000;
  a.hasTime = true;
  a.sourceFolder = "/srv/secret";
  RecordDetails missing;
  std::string answer;
  appendRecordSummary(a, answer);
  appendRecordSummary(missing, answer);
  answer += E;
  EXPECT_EQ(answer.find("/srv/secret"), std::string::npos);
  const std::vector<RemoteRecordGroup> asked{{"o", "i", {1, 2}}};
  std::vector<std::vector<RecordDetails>> got;
  ASSERT_TRUE(parseRecordInfoAnswer(answer, asked, got));
  const RecordDetails& b = got[0][0];
  EXPECT_TRUE(b.found && b.hasTime && !b.hasSize);
  EXPECT_EQ(b.fileName + b.location + b.title, a.fileName + a.location + a.title);
  EXPECT_EQ(b.firstLine, a.firstLine.substr(0, kMaxViewText));
  EXPECT_EQ(b.time, a.time);
  EXPECT_TRUE(b.sourceFolder.empty());
  EXPECT_FALSE(got[0][1].found);

  const std::vector<RemoteRecordGroup> one{{"o", "i", {1}}};
  const std::string bad[] = {"RETURN_CODE" + F + "1041" + E,
                             answer,  // two records for one id
                             answer.substr(0, answer.size() - 3),
                             "2" + F + F + F + F + F + F + F + E,
                             "1" + F + "%4" + F + F + F + F + F + F + E,
                             "1" + F + F + F + "-1" + F + F + F + F + E,
                             "1" + F + F + F + F + F + F + E,
                             "1" + F + F + F + F + F + F + F + E + E};
  for (const std::string& text : bad)
    EXPECT_FALSE(parseRecordInfoAnswer(text, one, got)) << testing::PrintToString(text);
}

}  // namespace
}  // namespace render
