/// @file json_test.cc
/// @brief The JSON reader and writer of the DevTools client: what the
/// browser sends comes back as the values it meant, what the tests send is
/// read by any JSON reader as written.

#include "tests/browser/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using browser::Json;

TEST(Json, ReadsEveryKindOfValue) {
  const std::optional<Json> v = Json::parse(
      " {\"id\": 7, \"result\": {\"value\": [true, false, null, -0.5, 1e3, \"x\"]},"
      " \"sessionId\" : \"AB\", \"empty\": {}, \"none\": []}\n");
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)["id"].asNumber(), 7);
  EXPECT_EQ((*v)["sessionId"].asString(), "AB");
  const Json::Array& items = (*v)["result"]["value"].items();
  ASSERT_EQ(items.size(), 6u);
  EXPECT_TRUE(items[0].asBool());
  EXPECT_FALSE(items[1].asBool(true));
  EXPECT_TRUE(items[2].isNull());
  EXPECT_EQ(items[3].asNumber(), -0.5);
  EXPECT_EQ(items[4].asNumber(), 1000);
  EXPECT_EQ(items[5].asString(), "x");
  EXPECT_TRUE((*v)["empty"].isObject());
  EXPECT_TRUE((*v)["none"].items().empty());
  // Absent members and members of non-objects read as null, never throw.
  EXPECT_TRUE((*v)["missing"]["deeper"].isNull());
  EXPECT_EQ((*v)["id"]["x"].asString("fallback"), "fallback");
}

TEST(Json, ReadsEscapesAndCharactersBeyondTheBasicPlane) {
  const struct {
    const char* json;
    std::string text;
  } cases[] = {
      {R"("a\"b\\c\/d")", "a\"b\\c/d"},
      {R"("\b\f\n\r\t")", "\b\f\n\r\t"},
      {R"("\u0041\u00e9\u20AC")", "A\xC3\xA9\xE2\x82\xAC"},
      {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},  // a surrogate pair
      {R"("\ud83dx")", "\xEF\xBF\xBDx"},          // half a pair, from a page's script
      {R"("\ude00")", "\xEF\xBF\xBD"},
      {R"("\ud83d\u0041")",
       "\xEF\xBF\xBD"
       "A"},
      {"\"caf\xC3\xA9\"", "caf\xC3\xA9"},  // UTF-8 as it is
      {R"("\u0000")", std::string(1, '\0')},
  };
  for (const auto& c : cases) {
    const std::optional<Json> v = Json::parse(c.json);
    ASSERT_TRUE(v) << c.json;
    EXPECT_EQ(v->asString(), c.text) << c.json;
  }
}

TEST(Json, ReadsNumbersOfTheGrammarOnly) {
  const std::pair<const char*, double> good[] = {
      {"0", 0},
      {"-0", 0},
      {"12", 12},
      {"3.25", 3.25},
      {"-1.5E+2", -150},
      {"2e-3", 0.002},
      {"1e999", HUGE_VAL},
      {"-1e999", -HUGE_VAL},
      {"1e-999", 0},
      {"9007199254740993", 9007199254740992.0},
  };
  for (const auto& [text, value] : good) {
    const std::optional<Json> v = Json::parse(text);
    ASSERT_TRUE(v && v->isNumber()) << text;
    EXPECT_EQ(v->asNumber(), value) << text;
  }
  for (const char* bad :
       {"01", "+1", ".5", "1.", "1e", "1e+", "-", "--1", "0x10", "NaN", "Infinity", "1 2"})
    EXPECT_FALSE(Json::parse(bad)) << bad;
}

TEST(Json, RefusesWhatIsNotOneJsonValue) {
  const std::string deep(201, '[');
  const char* cases[] = {
      "",          "   ",         "{",     "}",       "[1,]",       "[,1]",     "{\"a\"}",
      "{\"a\":}",  "{\"a\":1,}",  "{a:1}", "{'a':1}", "\"open",     "\"a\tb\"", "\"\\x\"",
      "\"\\u12\"", "\"\\u12G4\"", "tru",   "nul",     "true false", "[1] x",    "{\"a\":1}}",
  };
  for (const char* text : cases)
    EXPECT_FALSE(Json::parse(text)) << text;
  EXPECT_FALSE(Json::parse(deep + std::string(201, ']')));
  EXPECT_TRUE(Json::parse(std::string(200, '[') + std::string(200, ']')));
}

TEST(Json, WritesWhatItReadsBack) {
  const Json v = Json::object({
      {"id", 12},
      {"method", "Runtime.evaluate"},
      {"params", Json::object({{"expression", "document.title + \"\\n\"\t// <\x01>"},
                               {"returnByValue", true},
                               {"nothing", Json()},
                               {"list", Json::Array{1.5, -2, "x"}}})},
  });
  const std::string text = v.dump();
  EXPECT_EQ(text.find('\t'), std::string::npos);
  EXPECT_EQ(text.find('\x01'), std::string::npos);
  EXPECT_NE(text.find("\\u0001"), std::string::npos);
  EXPECT_NE(text.find("\"id\":12,"), std::string::npos);
  const std::optional<Json> back = Json::parse(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, v);
}

TEST(Json, WritesNumbersAsIntegersWhereTheyAreAndNeverWritesNaN) {
  const std::pair<Json, const char*> cases[] = {
      {Json(0), "0"},
      {Json(-42), "-42"},
      {Json(int64_t{1} << 40), "1099511627776"},
      {Json(0.1), "0.10000000000000001"},
      {Json(NAN), "null"},
      {Json(HUGE_VAL), "null"},
      {Json(1e300), "1.0000000000000001e+300"},
  };
  for (const auto& [value, text] : cases)
    EXPECT_EQ(value.dump(), text);
}

}  // namespace
