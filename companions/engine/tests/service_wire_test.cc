/// @file service_wire_test.cc
/// @brief The engine service's request format: requests and answers read
/// back only when whole and well formed, and the programs' wire names.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "search/engine_wire.h"

namespace {

using vela::Decoded;
using vela::Tool;
using namespace std::string_literals;

TEST(EngineServiceWire, RequestsReadBackOnlyWhenWholeAndWellFormed) {
  const vela::ToolRequest request{
      Tool::kExpandTokens, "/srv/root/search-cgi", {"-H", "/a b", "", "\xff\x01\"'x", "-fo*"}, {}};
  std::string bytes;
  ASSERT_TRUE(vela::encodeRequest(request, bytes));
  vela::ToolRequest back;
  size_t used = 0;
  ASSERT_EQ(vela::decodeRequest(bytes, back, used), Decoded::kDone);
  EXPECT_EQ(used, bytes.size());
  EXPECT_EQ(std::tie(back.tool, back.cwd, back.args),
            std::tie(request.tool, request.cwd, request.args));
  for (size_t cut = 0; cut < bytes.size(); ++cut)
    EXPECT_EQ(vela::decodeRequest(bytes.substr(0, cut), back, used), Decoded::kNeedMore) << cut;

  auto withByte = [&](size_t at, char value) {
    std::string changed = bytes;
    changed[at] = value;
    return changed;
  };
  auto le32 = [](uint32_t v) {
    return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF),
                       char(v >> 24)};
  };
  const std::pair<std::string, std::string> bad[] = {
      {"other magic", "X"},
      {"request magic on an answer", "VLA1"},
      {"a body larger than the limit", "VLQ1" + le32(vela::kMaxRequestBytes)},
      {"no such program", withByte(8, 9)},
      {"program 0", withByte(8, 0)},
      {"a string running past the body", withByte(9, 120)},
      {"too many arguments", "VLQ1" + le32(9) + "\x01" + le32(0) + le32(5000)},
      {"a byte after the arguments", "VLQ1" + le32(10) + "\x01" + le32(0) + le32(0) + "x"},
      {"a NUL inside an argument", "VLQ1" + le32(14) + "\x01" + le32(0) + le32(1) + le32(1) + '\0'},
  };
  for (const auto& [what, input] : bad)
    EXPECT_EQ(vela::decodeRequest(input, back, used), Decoded::kBad) << what;

  std::string none;
  EXPECT_FALSE(vela::encodeRequest({Tool::kEngine, "/", {"a\0b"s}, {}}, none));
  EXPECT_FALSE(vela::encodeRequest(
      {Tool::kEngine, "/", {std::string(vela::kMaxRequestBytes, 'q')}, {}}, none));
  EXPECT_FALSE(vela::encodeRequest({static_cast<Tool>(7), "/", {}, {}}, none));
  EXPECT_EQ(none, "");
}

TEST(EngineServiceWire, AnswersKeepTheirBytesAndLimits) {
  const vela::ToolAnswer answer{205, "(apple | applesauce)\n", "vela25_0.exe: no\n", {}};
  std::string bytes;
  ASSERT_TRUE(vela::encodeAnswer(answer, bytes));
  vela::ToolAnswer back;
  size_t used = 0;
  ASSERT_EQ(vela::decodeAnswer(bytes, back, used), Decoded::kDone);
  EXPECT_EQ(std::tie(back.status, back.out, back.err),
            std::tie(answer.status, answer.out, answer.err));
  EXPECT_EQ(vela::decodeAnswer(bytes.substr(0, bytes.size() - 1), back, used), Decoded::kNeedMore);
  EXPECT_EQ(vela::decodeAnswer(bytes + "x", back, used), Decoded::kDone);  // the caller checks
  EXPECT_EQ(used, bytes.size());
  EXPECT_FALSE(vela::encodeAnswer({256, "", "", {}}, bytes));
  EXPECT_FALSE(vela::encodeAnswer({0, std::string(vela::kMaxAnswerBytes, 'x'), "", {}}, bytes));
  for (const Tool t : {Tool::kEngine, Tool::kDateRange, Tool::kDigitIndex, Tool::kExpandTokens}) {
    Tool named;
    ASSERT_TRUE(vela::toolFromName(vela::toolName(t), named));
    EXPECT_EQ(named, t);
  }
  Tool named;
  EXPECT_FALSE(vela::toolFromName("vela25_0", named));
}

}  // namespace

TEST(EngineServiceWire, CarriedFilesTravelOnlyInTheSecondForm) {
  const vela::ToolRequest request{Tool::kEngine,
                                  "/srv/root/search-cgi",
                                  {"-o", "/t/query1", "-f", "/t/qstring1"},
                                  {{"/t/query1", ""}, {"/t/qstring1", "apple\n"}}};
  std::string bytes;
  ASSERT_TRUE(vela::encodeRequest(request, bytes));
  EXPECT_EQ(bytes.substr(0, 4), "VLQ2");
  vela::ToolRequest back;
  size_t used = 0;
  ASSERT_EQ(vela::decodeRequest(bytes, back, used), Decoded::kDone);
  ASSERT_EQ(back.files.size(), 2u);
  EXPECT_EQ(std::tie(back.files[1].path, back.files[1].bytes),
            std::tie(request.files[1].path, request.files[1].bytes));
  EXPECT_EQ(back.args, request.args);

  // The second form with no file, and a file without a path, are no request.
  std::string none;
  ASSERT_TRUE(vela::encodeRequest({Tool::kEngine, "/", {"x"}, {}}, none));
  EXPECT_EQ(none.substr(0, 4), "VLQ1");
  std::string empty = "VLQ2" + none.substr(4, 4) + none.substr(8) + std::string(4, '\0');
  empty[4] = static_cast<char>(empty[4] + 4);
  EXPECT_EQ(vela::decodeRequest(empty, back, used), Decoded::kBad);
  EXPECT_FALSE(vela::encodeRequest({Tool::kEngine, "/", {"x"}, {{"", "a"}}}, none));

  // An answer with files is of the second form, which may carry as much as
  // a result file; the first form carries none.
  vela::ToolAnswer answer{0, "", "", {{"/t/query1", std::string(vela::kMaxAnswerBytes, 'h')}}};
  EXPECT_FALSE(vela::encodeAnswer(answer, bytes));
  ASSERT_TRUE(vela::encodeAnswer(answer, bytes, true));
  EXPECT_EQ(bytes.substr(0, 4), "VLA2");
  vela::ToolAnswer got;
  ASSERT_EQ(vela::decodeAnswer(bytes, got, used), Decoded::kDone);
  ASSERT_EQ(got.files.size(), 1u);
  EXPECT_EQ(got.files[0].bytes, answer.files[0].bytes);
  answer.files[0].bytes.assign(vela::kMaxFilesAnswerBytes, 'h');
  EXPECT_FALSE(vela::encodeAnswer(answer, bytes, true));
  // A failed run answers the second form with no file.
  ASSERT_TRUE(vela::encodeAnswer({205, "", "no\n", {}}, bytes, true));
  ASSERT_EQ(vela::decodeAnswer(bytes, got, used), Decoded::kDone);
  EXPECT_TRUE(got.files.empty());
  EXPECT_EQ(got.err, "no\n");
}

// A page request carries the page's variables, the first of each name as
// a lookup in the environment finds it, and nothing else of the run's
// environment; the renderer's words follow "--" as they are, "=" and all.
TEST(EngineServiceWire, PageRequestsCarryThePagesVariablesOnly) {
  const std::vector<std::string> words = {"../tmp/query1", "N", "a=b"};
  const std::vector<std::string> args = vela::pageArguments(
      {"PATH=/bin", "HTTPS=on", "KS_PERMIT_KEY=k1234567", "HTTPS=off", "HTTPS", "SCRIPT_NAMES=x"},
      words);
  EXPECT_EQ(args, (std::vector<std::string>{"HTTPS=on", "KS_PERMIT_KEY=k1234567", "--",
                                            "../tmp/query1", "N", "a=b"}));
  std::vector<std::string> env, back;
  ASSERT_TRUE(vela::splitPageArguments(args, env, back));
  EXPECT_EQ(env, (std::vector<std::string>{"HTTPS=on", "KS_PERMIT_KEY=k1234567"}));
  EXPECT_EQ(back, words);
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"../tmp/query1"}, {"PATH=/x", "--"}, {"HTTPS=on", "HTTPS=off", "--"}, {"HTTPS", "--"}})
    EXPECT_FALSE(vela::splitPageArguments(bad, env, back)) << bad.front();
  EXPECT_STREQ(vela::toolName(Tool::kPage), "getfilelist.exe");
}
