/// @file related_term_wire_test.cc
/// @brief The related-term request and the reader of its answer, and the
/// terms taken from the tool's output.

#include <gtest/gtest.h>

#include "search/related_term_tool.h"
#include "search/remote_relterm.h"
#include "search/remote_request.h"
#include "system/delimiters.h"

namespace {

const std::string F = kFieldDelim, E = kGroupEndDelim;

TEST(RelTermRequest, OneGroupPerIndexInOrder) {
  std::string bytes;
  ASSERT_TRUE(buildRelTermRequest(
      {{"10.0.0.2", "alice", "a", "20001", 2, "1 5 "}, {"10.0.0.2", "/grp", "b", "20001", 1, "3 "}},
      bytes));
  EXPECT_EQ(bytes,
            "agent_get_rel_term\x04\x05\x06"
            "10.0.0.2" +
                F + "alice" + F + "a" + F + "20001" + F + "2" + F + "1 5 " + E + "10.0.0.2" + F +
                "/grp" + F + "b" + F + "20001" + F + "1" + F + "3 " + E + "\x18\x19\x1A");
  EXPECT_FALSE(buildRelTermRequest({}, bytes));
  EXPECT_FALSE(buildRelTermRequest({{"h", "o" + E, "a", "1", 1, "1 "}}, bytes));
  EXPECT_FALSE(buildRelTermRequest({{"h", "o", "a", "1", 0, ""}}, bytes));
  EXPECT_FALSE(buildRelTermRequest({{"h", "o", "a", "1", 101, "1 "}}, bytes));
}

TEST(RelTermAnswer, PartsGoToTheIndexesInOrder) {
  struct Case {
    std::string answer;
    size_t indexes;
    int code;
    std::vector<std::string> parts;
  };
  const Case cases[] = {
      {"a" + F + "b" + F + E + "c" + F + E + E, 3, 0, {"a" + F + "b" + F + E, "c" + F + E, E}},
      {E + "c" + F + E, 2, 0, {E, "c" + F + E}},  // an index without terms keeps its place
      {"NO_DATA_FOUND", 1, kRemoteBadAnswer, {}},
      {"a" + F + E, 2, kRemoteBadAnswer, {}},                // a part missing
      {"a" + F + E + "b" + F + E, 1, kRemoteBadAnswer, {}},  // more than asked for
      {"RETURN_CODE" + F + "1042" + E, 2, 1042, {}},         // a refusal names no terms
      {"RETURN_CODE" + F + "x" + E, 1, kRemoteBadAnswer, {}},
      // Terms that could be misread are left out; the rest stay.
      {"bad\x01" + F + "ok" + F + std::string(300, 'x') + F + "last" + E,
       1,
       0,
       {"ok" + F + "last" + F + E}}};
  for (const Case& c : cases) {
    std::vector<std::string> parts;
    EXPECT_EQ(parseRelTermAnswer(c.answer, c.indexes, parts), c.code) << c.answer;
    EXPECT_EQ(parts, c.parts) << c.answer;
  }
}

TEST(RelTermTool, TermsEndAtTheFirstEmptyLine) {
  std::string part;
  appendToolTerms("alpha\r\nbeta\n\ngamma\n", part);
  EXPECT_EQ(part, "alpha" + F + "beta" + F);
  part.clear();
  appendToolTerms("x\x15\x16\x17y\nz", part);  // a term holding E would end the part
  EXPECT_EQ(part, "z" + F);
  const std::vector<std::string> argv = relTermToolArgv("/s/idx", "/t/out", {3, 12});
  EXPECT_EQ(argv, (std::vector<std::string>{kRelTermTool, "-L", "10", "-D", "/s/idx/relterm", "-o",
                                            "/t/out", "-n", "3", "12"}));
}

}  // namespace
