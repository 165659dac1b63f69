/// @file remote_record_view_test.cc
/// @brief The record-view request and answers: the bytes each side writes
/// (older agents and renderers read them), what the other reads back, and
/// that texts of any bytes cannot break the framing.

#include <gtest/gtest.h>

#include <functional>
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
  std::string bytes, again;
  ASSERT_TRUE(buildRecordViewRequest(r, bytes));
  EXPECT_EQ(bytes, std::string(kRecordViewCommand) + W + "snippet" + F + "carol smith%25%12%13%14" +
                       F + "demo" + F + "068812" + F + "3 17 " + F + "220" + F +
                       "tax a%20b 50%25 " + "re%15%16%17port*" + E + END);
  RemoteViewRequest back;
  ASSERT_TRUE(parseRecordViewRequest(bytes, back));
  EXPECT_EQ(back.user, r.user);
  EXPECT_EQ(back.terms, r.terms);
  ASSERT_TRUE(buildRecordViewRequest(back, again));
  EXPECT_EQ(again, bytes);
}

TEST(RecordViewRequest, EachModeTakesOnlyItsCounts) {
  const std::vector<std::pair<std::function<void(RemoteViewRequest&)>, bool>> cases = {
      {[](RemoteViewRequest& r) { r.mode = kViewModeText; }, false},  // two ids, a number
      {[](RemoteViewRequest& r) { r.mode = kViewModeText, r.ids = {3}; }, false},
      {[](RemoteViewRequest& r) { r.mode = kViewModeText, r.ids = {3}, r.number = 0; }, true},
      {[](RemoteViewRequest& r) { r.mode = kViewModeSimilar, r.ids = {3}, r.number = 1; }, true},
      {[](RemoteViewRequest& r) { r.mode = "other"; }, false},
      {[](RemoteViewRequest& r) { r.ids.assign(kMaxViewRecords + 1, 1); }, false},
      {[](RemoteViewRequest& r) { r.ids = {0}; }, false},
      {[](RemoteViewRequest& r) { r.number = 0; }, false},  // a snippet of no bytes
      {[](RemoteViewRequest& r) { r.index = "a" + F; }, false},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    RemoteViewRequest r = snippetRequest(), back;
    cases[i].first(r);
    std::string bytes;
    EXPECT_EQ(buildRecordViewRequest(r, bytes), cases[i].second) << "case " << i;
    EXPECT_EQ(parseRecordViewRequest(bytes, back), cases[i].second) << "case " << i;
  }
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

// A record as it travels, every field set; its texts hold the delimiters, a
// "%" and a NUL.
const std::string kRecordFields = "1" + F + "a%12%13%14.txt" + F + "dir/a.txt" + F + "1700000000" +
                                  F + "0" + F + "Tax %2520 %15%16%17" + F + "line%00one" + F +
                                  "Caf\xC3\xA9" + F + "3" + F;
// Then one the user may not see.
const std::string kSnippets = kRecordFields + "12-1" + F + "-the \x1F+tax\x1F- %1F rules" + F +
                              "0" + F + F + F + F + F + F + F + F + "0" + F + F + F + E;

// Each reader takes what its writer gives, and written again, what it read
// comes out byte for byte: neither side drops or moves a field.
TEST(RecordViewAnswer, SnippetsReadBackAndCountTheRecordsAsked) {
  std::vector<RemoteRecordView> back;
  ASSERT_TRUE(parseSnippetAnswer(kSnippets, 2, back));
  EXPECT_EQ(back[0].fileName, "a" + F + ".txt");
  EXPECT_EQ(back[0].firstLine, std::string("line\0one", 8));
  EXPECT_TRUE(back[0].cutBefore && back[0].cutAfter && back[0].hasSize && back[0].size == 0);
  EXPECT_EQ(back[0].pieces, (std::vector<std::pair<std::string, bool>>{
                                {"the ", false}, {"tax", true}, {" \x1F rules", false}}));
  EXPECT_FALSE(back[1].found || back[1].hasTime);
  std::string again;
  for (const RemoteRecordView& v : back)
    appendSnippetRecord(v, again);
  closeSnippetAnswer(again);
  EXPECT_EQ(again, kSnippets);

  EXPECT_FALSE(parseSnippetAnswer(kSnippets, 1, back));
  EXPECT_FALSE(parseSnippetAnswer(kSnippets, 3, back));
  std::string refusal;
  buildReturnCodeAnswer(1041, refusal);
  EXPECT_FALSE(parseSnippetAnswer(refusal, 1, back));
  EXPECT_EQ(returnCodeOf(refusal), 1041);
  EXPECT_EQ(returnCodeOf(kSnippets), 0);
  // A similar-document record that is no record number is not taken.
  for (const char* similar : {"x2-1", "12-7"}) {
    std::string bad = kSnippets;
    bad.replace(bad.find("12-1"), 4, similar);
    EXPECT_FALSE(parseSnippetAnswer(bad, 2, back)) << similar;
  }
}

TEST(RecordViewAnswer, DocumentsCarryEveryByteAndSimilarTermsTheirList) {
  const std::string bytes = kRecordFields + E + std::string("bin\0ary", 7) + E + F + END;
  std::string body, again;
  RemoteRecordView view;
  ASSERT_TRUE(parseDocumentAnswer(bytes, view, body));
  EXPECT_EQ(body, bytes.substr(kRecordFields.size() + E.size()));
  buildDocumentAnswer(view, body, again);
  EXPECT_EQ(again, bytes);
  std::string refusal;
  buildReturnCodeAnswer(1044, refusal);
  EXPECT_FALSE(parseDocumentAnswer(refusal, view, body));

  std::string terms;
  for (const char* list : {"tax,rate,income", ""}) {
    buildSimilarAnswer(list, again);
    EXPECT_TRUE(parseSimilarAnswer(again, terms) && terms == list) << list;
  }
  EXPECT_FALSE(parseSimilarAnswer(refusal, terms));
  EXPECT_FALSE(parseSimilarAnswer("a" + F + "b" + F + E, terms));
}

}  // namespace
