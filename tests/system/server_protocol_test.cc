/// @file server_protocol_test.cc
/// @brief The server's command texts byte for byte, the token reader and the
/// command splitter.

#include "system/server_protocol.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

const std::string OP("\x04\x05\x06"), PAR("\x07\x08\x09"), IXP("\x12\x13\x14"), IXE("\x15\x16\x17"),
    END("\x18\x19\x1A");

TEST(ServerProtocol, EveryCommandByteForByte) {
  struct Case {
    std::function<void(std::string&)> build;
    std::string expected;
  } cases[] = {
      {[](std::string& o) { protocolCheckUserPassword(o, "u", "pw", true); },
       "KScheck_permission" + OP + "u" + PAR + "pw" + PAR + "true" + END},
      {[](std::string& o) { protocolCheckUserPassword(o, "u", "pw", false); },
       "KScheck_permission" + OP + "u" + PAR + "pw" + PAR + "false" + END},
      {[](std::string& o) { protocolCheckUserValidPath(o, "u", "/data"); },
       "is_user_valid_path" + OP + "u" + PAR + "u" + PAR + "/data/" + END},
      {[](std::string& o) { protocolCheckUserValidPath(o, "u", "/data/"); },
       "is_user_valid_path" + OP + "u" + PAR + "u" + PAR + "/data/" + END},
      {[](std::string& o) { protocolGetUserIndexList(o, "u"); },
       "GET_CLASS_WRITE" + OP + "u" + END},
      {[](std::string& o) { protocolGetAllIndexPath(o); }, "get_all_index_path" + OP + END},
      {[](std::string& o) { protocolExecuteCommand(o, "ls -l"); },
       "EXECUTE_COMMAND" + OP + "ls -l" + END},
      {[](std::string& o) { protocolStartIndex(o, "idx.exe", "own", "name", true); },
       "start_index" + OP + "own" + IXP + "name" + IXP + "idx.exe -inc \"own\" \"name\" " + IXE +
           END},
      {[](std::string& o) { protocolStartIndex(o, "idx.exe", "own", "name", false); },
       "start_index" + OP + "own" + IXP + "name" + IXP + "idx.exe  \"own\" \"name\" " + IXE + END},
      {[](std::string& o) { protocolGetExchangeServerList(o); },
       "get_exchange_server_hosts" + OP + END},
      {[](std::string& o) { protocolGetIndexStatusCode(o, "a", "b"); },
       "GET_INDEX_STATUS" + OP + "a" + IXP + "b" + END},
      {[](std::string& o) { protocolGetAllIndexStatus(o); }, "get_all_index_status" + OP + END},
      {[](std::string& o) { protocolGetReadableIndexList(o, "u"); },
       "GET_DATABASE_READ" + OP + "u" + END},
      {[](std::string& o) { protocolGetDefaultIndexList(o, "u"); },
       "GET_DEFAULT_INDEX" + OP + "u" + END},
      {[](std::string& o) { protocolGetDefaultSearchByFeildDBInfo(o, "u"); },
       "GET_DEFAULT_INDEX_DB" + OP + "u" + END},
      {[](std::string& o) { protocolGetDbColumn(o, "a", "b"); },
       "get_db_column" + OP + "a" + IXP + "b" + END},
      {[](std::string& o) { protocolGetIndexListByClassName(o, "u", "Sales"); },
       "GET_CLASS_READ_BY_NAME" + OP + "u" + OP + "Sales" + END},
      {[](std::string& o) { protocolGetIndexListByClassID(o, "u", "7"); },
       "GET_CLASS_READ" + OP + "u" + OP + "7" + END},
      {[](std::string& o) { protocolGetQueryServerState(o); }, "get_query_server_state" + OP + END},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    c.build(out);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(ServerProtocol, LongCommandsAreCut) {
  std::string out;
  protocolExecuteCommand(out, std::string(5000, 'x').c_str());
  EXPECT_EQ(out.size(), kProtocolCommandMax);
  EXPECT_EQ(out.substr(0, 15), "EXECUTE_COMMAND");
}

TEST(ServerProtocol, DelimitersInTexts) {
  for (const std::string& d : {OP, PAR, IXP, IXE, END})
    EXPECT_TRUE(hasProtocolDelimiter("a" + d + "b")) << int(d[0]);
  for (const std::string& clean :
       {std::string(""), std::string("plain"), std::string("\x12\x13", 2),
        std::string("\x12\x14\x16"), std::string("\x04\x05\x07")})
    EXPECT_FALSE(hasProtocolDelimiter(clean));
}

TEST(ServerProtocol, TokenReader) {
  const std::string D = IXP;
  struct Case {
    std::string text;
    int n;
    size_t outSize;
    bool found;
    std::string token;
  } cases[] = {
      {"a" + D + "b", 1, 64, true, "a"},
      {"a" + D + "b", 2, 64, true, "b"},
      {"a" + D + "b", 3, 64, false, ""},
      {"a" + D + "b" + D, 2, 64, true, "b"},
      {"a" + D + "b" + D, 3, 64, false, ""},  // no empty last token
      {D + "x", 1, 64, true, ""},
      {"a" + D + D + "c", 2, 64, true, ""},
      {"a" + D + D + "c", 3, 64, true, "c"},
      {"abcdef", 1, 4, true, "abc"},
      {"abcdef", 0, 64, false, ""},
      {"", 1, 64, true, ""},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    EXPECT_EQ(getTokenFromString(c.text, D, c.n, out, c.outSize), c.found) << c.n;
    if (c.found) {
      EXPECT_EQ(out, c.token) << c.n;
    }
  }
}

TEST(ServerProtocol, SplitCommand) {
  std::string word, body;
  ASSERT_TRUE(splitProtocolCommand("GET_CLASS_READ" + OP + "u" + OP + "7" + END, word, body));
  EXPECT_EQ(word, "GET_CLASS_READ");
  EXPECT_EQ(body, "u" + OP + "7");
  ASSERT_TRUE(splitProtocolCommand("w" + OP + END, word, body));
  EXPECT_EQ(body, "");
  EXPECT_FALSE(splitProtocolCommand("w" + OP + "body", word, body));
  EXPECT_FALSE(splitProtocolCommand("w" + END, word, body));
  EXPECT_FALSE(splitProtocolCommand(END + "w" + OP, word, body));  // end mark before the word's end
}

}  // namespace
