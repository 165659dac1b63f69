/// @file remote_records_test.cc
/// @brief The record-details exchange with another host's agent: texts that
/// hold delimiter bytes come back whole, and answers of any other shape
/// give no details at all.

#include "companions/records/remote_records.h"

#include <gtest/gtest.h>

#include "system/delimiters.h"

namespace render {
namespace {

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
