/// @file json.h
/// @brief JSON for the tests: a value type, a strict reader with bounded
/// nesting (the pages and answers under test are read with it, and the
/// browser's DevTools protocol is spoken with it), and a writer.

#ifndef SEARCHRUN_TESTS_JSON_H
#define SEARCHRUN_TESTS_JSON_H

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testjson {

class Json {
 public:
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  using Object = std::map<std::string, Json>;
  using Array = std::vector<Json>;

  Json() = default;
  Json(bool b) : type_(Type::kBool), bool_(b) {}
  Json(int n) : type_(Type::kNumber), number_(n) {}
  Json(int64_t n) : type_(Type::kNumber), number_(static_cast<double>(n)) {}
  Json(double n) : type_(Type::kNumber), number_(n) {}
  Json(const char* s) : type_(Type::kString), string_(s) {}
  Json(std::string s) : type_(Type::kString), string_(std::move(s)) {}
  Json(Array a) : type_(Type::kArray), array_(std::move(a)) {}
  Json(Object o) : type_(Type::kObject), object_(std::move(o)) {
    for (const auto& member : object_)
      order_.push_back(member.first);
  }
  // {{"key", value}, ...}
  static Json object(std::initializer_list<std::pair<const std::string, Json>> members) {
    return Json(Object(members));
  }

  Type type() const { return type_; }
  bool isNull() const { return type_ == Type::kNull; }
  bool isString() const { return type_ == Type::kString; }
  bool isNumber() const { return type_ == Type::kNumber; }
  bool isObject() const { return type_ == Type::kObject; }
  // The value, or the given fallback for a value of another type.
  bool asBool(bool fallback = false) const { return type_ == Type::kBool ? bool_ : fallback; }
  double asNumber(double fallback = 0) const { return type_ == Type::kNumber ? number_ : fallback; }
  std::string asString(const std::string& fallback = "") const {
    return type_ == Type::kString ? string_ : fallback;
  }
  const Array& items() const;     // empty unless an array
  const Object& members() const;  // empty unless an object
  // A member, or null when absent or not an object.
  const Json& operator[](const std::string& key) const;
  bool has(const std::string& key) const { return members().count(key) > 0; }
  // Adds a member to an object at the end of its keys; false when the key is
  // there already (or this is no object).
  bool addMember(std::string key, Json value);
  // The keys of an object in the order its text gave them.
  const std::vector<std::string>& keys() const { return order_; }

  // Compact JSON text: strings escaped so that any bytes stay one string,
  // numbers without a fraction written as integers, NaN and infinities null.
  std::string dump() const;
  // How a reader takes half a surrogate pair (\ud800 alone): the text of a
  // web page's script may hold one, a writer under test never may.
  enum class LoneSurrogates { kReplaced, kRefused };
  // The whole text must be one JSON value (surrounding blanks allowed), as
  // RFC 8259 has it: no raw control character in a string, only the escapes
  // JSON defines, no key twice in an object. Nothing for anything else, or
  // for more than `maxDepth` nested arrays and objects; then `why` (if given)
  // tells where reading stopped.
  static std::optional<Json> parse(std::string_view text, size_t maxDepth = 200,
                                   LoneSurrogates lone = LoneSurrogates::kReplaced,
                                   std::string* why = nullptr);

  bool operator==(const Json& o) const;
  bool operator!=(const Json& o) const { return !(*this == o); }

 private:
  Type type_ = Type::kNull;
  bool bool_ = false;
  double number_ = 0;
  std::string string_;
  Array array_;
  Object object_;
  std::vector<std::string> order_;
};

}  // namespace testjson

#endif  // SEARCHRUN_TESTS_JSON_H
