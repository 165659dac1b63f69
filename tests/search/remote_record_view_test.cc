/// @file remote_record_view_test.cc
/// @brief The record-view request and answers: what each side writes, the
/// other reads the same, and texts of any bytes cannot break the framing.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "search/remote_record_view.h"
#include "search/remote_request.h"

namespace {

const std::string F("\x12\x13\x14"), E("\x15\x16\x17"), W("\x04\x05\x06"), END("\x18\x19\x1A");

RemoteViewRequest snippetRequest() {
  RemoteViewRequest r;
  r.mode = kViewModeSnippet;
  r.user = "carol smith%" + F;
  r.owner = "demo";
  r.index = "068812";
  r.ids = {3, 17};
  r.number = 220;
  r.terms = {"tax", "a b", "50%", "re" + E + "port*"};
  return r;
}

TEST(RecordViewRequest, ReadsBackWhatIsWrittenWhateverTheTexts) {
  const RemoteViewRequest r = snippetRequest();
  std::string bytes;
  ASSERT_TRUE(buildRecordViewRequest(r, bytes));
  EXPECT_EQ(bytes.rfind(std::string(kRecordViewCommand) + W, 0), 0u);
  // The user's and the terms' bytes never frame: one group, one end mark.
  EXPECT_EQ(bytes.find(E), bytes.size() - 6);
  RemoteViewRequest back;
  ASSERT_TRUE(parseRecordViewRequest(bytes, back));
  EXPECT_EQ(back.mode, r.mode);
  EXPECT_EQ(back.user, r.user);
  EXPECT_EQ(back.owner + "/" + back.index, "demo/068812");
  EXPECT_EQ(back.ids, r.ids);
  EXPECT_EQ(back.number, 220u);
  EXPECT_EQ(back.terms, r.terms);

  RemoteViewRequest similar;
  similar.mode = kViewModeSimilar;
  similar.owner = "demo";
  similar.index = "x";
  similar.ids = {5};
  similar.number = 1;
  ASSERT_TRUE(buildRecordViewRequest(similar, bytes));
  ASSERT_TRUE(parseRecordViewRequest(bytes, back));
  EXPECT_TRUE(back.user.empty() && back.terms.empty());
  EXPECT_EQ(back.number, 1u);
}

TEST(RecordViewRequest, EachModeTakesOnlyItsCounts) {
  std::string bytes;
  RemoteViewRequest r = snippetRequest();
  r.mode = kViewModeText;  // one record only, number 0
  EXPECT_FALSE(buildRecordViewRequest(r, bytes));
  r.ids = {3};
  EXPECT_FALSE(buildRecordViewRequest(r, bytes));
  r.number = 0;
  EXPECT_TRUE(buildRecordViewRequest(r, bytes));
  r.mode = "other";
  EXPECT_FALSE(buildRecordViewRequest(r, bytes));
  r = snippetRequest();
  r.ids.assign(kMaxViewRecords + 1, 1);
  EXPECT_FALSE(buildRecordViewRequest(r, bytes));
  r = snippetRequest();
  r.ids = {0};
  EXPECT_FALSE(buildRecordViewRequest(r, bytes));
  r = snippetRequest();
  r.number = 0;  // a snippet of no bytes
  EXPECT_FALSE(buildRecordViewRequest(r, bytes));
  r = snippetRequest();
  r.index = "a" + F;
  EXPECT_FALSE(buildRecordViewRequest(r, bytes));
}

TEST(RecordViewRequest, RefusesOtherSpellings) {
  const std::string head =
      std::string(kRecordViewCommand) + W + "text" + F + F + "demo" + F + "x" + F;
  RemoteViewRequest r;
  EXPECT_TRUE(parseRecordViewRequest(head + "4 " + F + "0" + F + E + END, r));
  for (const std::string& bad : {
           head + "4" + F + "0" + F + E + END,          // the id's blank missing
           head + "04 " + F + "0" + F + E + END,        // a leading zero
           head + "4 " + F + "00" + F + E + END,        // a leading zero
           head + "4 " + F + "0" + F + E,               // no end mark
           head + "4 " + F + "0" + F + E + END + "x",   // bytes after it
           head + "4 " + F + "0" + F + E + E + END,     // a second group
           head + "4 " + F + "0" + E + END,             // a field missing
           head + "4 " + F + "0" + F + " t" + E + END,  // a stray blank
       })
    EXPECT_FALSE(parseRecordViewRequest(bad, r)) << bad;
}

RemoteRecordView record() {
  RemoteRecordView v;
  v.found = true;
  v.fileName = "a" + F + ".txt";
  v.location = "dir/a.txt";
  v.hasTime = true;
  v.time = 1700000000;
  v.hasSize = true;
  v.size = 0;
  v.title = "Tax %20 " + E;
  v.firstLine = std::string("line\0one", 8);
  v.docTitle = "Caf\xC3\xA9";
  v.cutBefore = true;
  v.similar = "12-1";
  v.pieces = {{"the ", false}, {"tax", true}, {std::string(" \x1F rules"), false}};
  return v;
}

void expectSame(const RemoteRecordView& a, const RemoteRecordView& b) {
  EXPECT_EQ(a.found, b.found);
  EXPECT_EQ(a.fileName, b.fileName);
  EXPECT_EQ(a.location, b.location);
  EXPECT_EQ(a.hasTime, b.hasTime);
  EXPECT_EQ(a.time, b.time);
  EXPECT_EQ(a.hasSize, b.hasSize);
  EXPECT_EQ(a.size, b.size);
  EXPECT_EQ(a.title, b.title);
  EXPECT_EQ(a.firstLine, b.firstLine);
  EXPECT_EQ(a.docTitle, b.docTitle);
  EXPECT_EQ(a.cutBefore, b.cutBefore);
  EXPECT_EQ(a.cutAfter, b.cutAfter);
}

TEST(RecordViewAnswer, SnippetsReadBackAndCountTheRecordsAsked) {
  std::string bytes;
  appendSnippetRecord(record(), bytes);
  appendSnippetRecord(RemoteRecordView(), bytes);  // one the user may not see
  closeSnippetAnswer(bytes);
  std::vector<RemoteRecordView> back;
  ASSERT_TRUE(parseSnippetAnswer(bytes, 2, back));
  expectSame(back[0], record());
  EXPECT_EQ(back[0].similar, "12-1");
  EXPECT_EQ(back[0].pieces, record().pieces);
  EXPECT_FALSE(back[1].found);
  EXPECT_FALSE(back[1].hasTime || back[1].hasSize);
  EXPECT_TRUE(back[1].pieces.empty() && back[1].similar.empty());

  EXPECT_FALSE(parseSnippetAnswer(bytes, 1, back));
  EXPECT_FALSE(parseSnippetAnswer(bytes, 3, back));
  std::string refusal;
  buildReturnCodeAnswer(1041, refusal);
  EXPECT_FALSE(parseSnippetAnswer(refusal, 1, back));
  EXPECT_EQ(returnCodeOf(refusal), 1041);
  EXPECT_EQ(returnCodeOf(bytes), 0);
  // A similar-document record that is no record number is not taken.
  const std::string good = bytes;
  std::string bad = good;
  bad.replace(bad.find("12-1"), 4, "x2-1");
  EXPECT_FALSE(parseSnippetAnswer(bad, 2, back));
  bad = good;
  bad.replace(bad.find("12-1"), 4, "12-7");
  EXPECT_FALSE(parseSnippetAnswer(bad, 2, back));
}

TEST(RecordViewAnswer, DocumentsCarryEveryByteAndSimilarTermsTheirList) {
  const std::string body = std::string("bin\0ary", 7) + E + F + END;
  std::string bytes, got;
  buildDocumentAnswer(record(), body, bytes);
  RemoteRecordView back;
  ASSERT_TRUE(parseDocumentAnswer(bytes, back, got));
  expectSame(back, record());
  EXPECT_EQ(got, body);
  std::string refusal;
  buildReturnCodeAnswer(1044, refusal);
  EXPECT_FALSE(parseDocumentAnswer(refusal, back, got));

  std::string terms;
  buildSimilarAnswer("tax,rate,income", bytes);
  ASSERT_TRUE(parseSimilarAnswer(bytes, terms));
  EXPECT_EQ(terms, "tax,rate,income");
  buildSimilarAnswer("", bytes);
  ASSERT_TRUE(parseSimilarAnswer(bytes, terms));
  EXPECT_TRUE(terms.empty());
  EXPECT_FALSE(parseSimilarAnswer(refusal, terms));
  EXPECT_FALSE(parseSimilarAnswer("a" + F + "b" + F + E, terms));
}

}  // namespace
