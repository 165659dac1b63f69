/// @file strings_test.cc
/// @brief Text parsers of the system library: the tokenizer, double-byte aware
/// slash search, thousands separators, index uids and safe index names; the
/// server's command texts byte for byte, the token reader and the command
/// splitter; and the path and Secure attribute of the cookies an answer sets:
/// only a plain script path ever reaches the header line.

#include "system/strings.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "system/address.h"
#include "system/cookie_scope.h"
#include "system/layout.h"
#include "system/server_protocol.h"
#include "tests/test_util.h"

namespace {

using Tokens = std::vector<std::string>;

Tokens allTokens(std::string text, const char* delimiter) {
  Tokens out;
  for (char* cursor = text.data(); *cursor != '\0';)
    out.push_back(getToken(cursor, delimiter));
  return out;
}

TEST(Strings, GetTokenCutsAtWholeDelimiters) {
  EXPECT_EQ(allTokens("aXYbXYZcXYZ", "XYZ"), (Tokens{"aXYb", "c"}));
  EXPECT_EQ(allTokens("XYZXYZa", "XYZ"), (Tokens{"", "", "a"}));
  EXPECT_EQ(allTokens("YZrest", "XYZ"), (Tokens{"YZrest"}));  // no match before the text
}

TEST(Strings, DoubleByteSlashesAndThousands) {
  const char sjis[] = "dir/\x95/";  // 0x95 0x2F is one character
  EXPECT_EQ(find_last_slash(sjis, kLangJP), sjis + 3);
  const char lead[] = "a/\x95";  // a lead byte at the end has no partner
  EXPECT_EQ(find_last_slash(lead, kLangJP), lead + 1);
  const char* thousands[][2] = {{"1234567", "1,234,567"}, {"", ""}, {"-1234", "-1,234"}};
  for (const auto& c : thousands) {
    std::string s = c[0];
    RefineMatchCount(s);
    EXPECT_EQ(s, c[1]);
  }
}

// Walking UTF-8 by two-byte steps used to swallow the quote after a
// three-byte character, so that one search failed outright.
TEST(Strings, CharacterLengthsByCodePage) {
  const struct {
    const char* text;
    size_t left;
    int language;
    size_t length;
  } rows[] = {
      {"\xE4\xBB\x81\"", 4, kLangEN, 3},
      {"\xF0\x9F\x98\x80", 4, kLangEN, 4},
      {"\xC3\xBC", 2, kLangEN, 2},
      {"\xC3\"", 2, kLangEN, 1},  // Latin-1 "A~"
      {"\xE2\x80\x9C", 2, kLangEN, 1},
      {"\x80\x80", 2, kLangEN, 1},
      {"\xC0\x80", 2, kLangEN, 1},
      {"\xF5\x80\x80\x80", 4, kLangEN, 1},
      {"\x81\x67", 2, kLangJP, 2},
      {"\xB1\x81", 2, kLangJP, 1},
      {"\x81", 1, kLangJP, 1},
      {"\xA1\xA7", 2, kLangCH, 2},
      {"a\xA1", 2, kLangGB, 1},
      // Overlong, a surrogate, above U+10FFFF: no character, as a validator
      // of UTF-8 needs it.
      {"\xE0\x80\xAF", 3, kLangEN, 1},
      {"\xED\xA0\x80", 3, kLangEN, 1},
      {"\xF4\x90\x80\x80", 4, kLangEN, 1},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.length, characterLength(row.text, row.left, row.language))
        << row.text << " " << row.language;
    // Terminated text ends where the bounded text does.
    const std::string terminated(row.text, row.left);
    EXPECT_EQ(row.length, characterLength(terminated.c_str(), row.language)) << row.text;
  }
  // A character the end cuts short, as against one that is broken.
  EXPECT_TRUE(utf8CutShort("\xE4\xBB", 2));
  EXPECT_FALSE(utf8CutShort("\xE4\x41", 2));
  EXPECT_FALSE(utf8CutShort("\xE0\x80", 2));
  EXPECT_FALSE(utf8CutShort("\xC3\xBC", 2));
}

TEST(Address, IndexUidsAndSafeIndexNames) {
  const char* cases[][2] = {
      {"c0a8ff01_news$9000", "192.168.255.1 news 9000"},
      {"0A000005_x$", "10.0.0.5 x "},
      {"news$1", "127.0.0.1 news 1"},              // shorter than a host part
      {"0A00000G_n$1", "127.0.0.1 0A00000G_n 1"},  // not hex
      {"0A000005-n$1", "127.0.0.1 0A000005-n 1"},
  };
  std::string ip, index, port;
  for (const auto& c : cases) {
    systemDecodeIndexID(c[0], ip, index, port);
    EXPECT_EQ(ip + " " + index + " " + port, c[1]) << c[0];
  }
  std::string uid;
  make_index_uid("10.0.0.5", "news", uid);
  EXPECT_EQ("0A000005_news", uid);
  make_index_uid("10.0.0.256", "news", uid);  // not an address: this host
  EXPECT_EQ("7F000001_news", uid);
  for (const char* bad : {".1.2.3", "1..2.3", "1.2.3.", "1.2.3.4.5", "256.1.1.1", "1.2.3.a", ""})
    EXPECT_FALSE(isValidIP(bad)) << bad;
  EXPECT_TRUE(isValidIP("0.0.0.0"));
  EXPECT_TRUE(isValidIP("255.255.255.255"));
  for (const char* bad : {"12345678", "", "..", "a/b", "a$1", "\xa4\xe5"})
    EXPECT_FALSE(isSafeIndexName(bad)) << bad;
  EXPECT_TRUE(isSafeIndexName("a_b-C9"));
  EXPECT_FALSE(isSafeIndexName(nullptr));
}

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

TEST(CookieScope, PathIsTheScriptDirectoryOrSlash) {
  const std::pair<const char*, std::string> cases[] = {
      {"/cgi-bin/search/searchrun", "/cgi-bin/search/"},
      {"/search-cgi/getfilelist.exe", "/search-cgi/"},
      {"/searchrun", "/"},
      {"/a%20b/x", "/a%20b/"},
      {nullptr, "/"},
      {"", "/"},
      {"searchrun", "/"},  // relative
      {"/cgi-bin/x;Domain=evil.example/searchrun", "/"},
      {"/cgi-bin/x\r\nSet-Cookie: a=b/searchrun", "/"},
      {"/cgi-bin/x\n/searchrun", "/"},
      {"/cgi-bin/a b/searchrun", "/"},
      {"/cgi-bin/a,b/searchrun", "/"},
      {"/cgi-bin/\"a\"/searchrun", "/"},
      {"/cgi-bin/\x7F/searchrun", "/"},
      {"/cgi-bin/\xC3\xA9/searchrun", "/"},
      {"/cgi-bin/../etc/searchrun", "/"},
      {"/cgi-bin/./searchrun", "/"},
      {"//evil.example/searchrun", "/"},
  };
  for (const auto& [script, path] : cases)
    EXPECT_EQ(path, cookiePath(script)) << (script ? script : "null");
  EXPECT_EQ("/", cookiePath(("/" + std::string(600, 'a') + "/x").c_str()));
}

TEST(CookieScope, SecureOnlyOverHttps) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"on", nullptr, true},     {"ON", nullptr, true},    {"1", nullptr, true},
      {nullptr, "https", true},  {nullptr, "HTTPS", true}, {"off", "https", true},
      {"off", nullptr, false},   {"", "", false},          {nullptr, "http", false},
      {nullptr, nullptr, false}, {"onx", "httpsx", false},
  };
  for (const auto& [https, scheme, secure] : cases)
    EXPECT_EQ(secure, requestOverHttps(https, scheme))
        << (https ? https : "null") << " " << (scheme ? scheme : "null");

  testutil::ScopedEnv script("SCRIPT_NAME", "/cgi-bin/search/searchrun"), https("HTTPS", "on"),
      scheme("REQUEST_SCHEME", nullptr);
  EXPECT_EQ("; Path=/cgi-bin/search/; HttpOnly; SameSite=Strict; Secure", cookieAttributes());
  testutil::ScopedEnv plain("HTTPS", nullptr), bad("SCRIPT_NAME", "/x;Secure=0/y");
  EXPECT_EQ("; Path=/; HttpOnly; SameSite=Strict", cookieAttributes());
}

}  // namespace
