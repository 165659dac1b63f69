/// @file json.h
/// @brief The JSON the browser's DevTools protocol speaks: a value type, a
/// strict reader with bounded nesting, and a writer.

#ifndef SEARCHRUN_TESTS_BROWSER_JSON_H
#define SEARCHRUN_TESTS_BROWSER_JSON_H

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace browser {

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
  Json(Object o) : type_(Type::kObject), object_(std::move(o)) {}
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

  // Compact JSON text: strings escaped so that any bytes stay one string,
  // numbers without a fraction written as integers, NaN and infinities null.
  std::string dump() const;
  // The whole text must be one JSON value (surrounding blanks allowed).
  // Nothing for anything else, or for more than `maxDepth` nested arrays and
  // objects.
  static std::optional<Json> parse(std::string_view text, size_t maxDepth = 200);

  bool operator==(const Json& o) const;
  bool operator!=(const Json& o) const { return !(*this == o); }

 private:
  Type type_ = Type::kNull;
  bool bool_ = false;
  double number_ = 0;
  std::string string_;
  Array array_;
  Object object_;
};

}  // namespace browser

#endif  // SEARCHRUN_TESTS_BROWSER_JSON_H
