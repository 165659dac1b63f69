/// @file json.cc
/// @brief Reading and writing JSON.

#include "tests/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "companions/doctext/render_text.h"

namespace testjson {

namespace {

const Json kNull;
const Json::Array kNoItems;
const Json::Object kNoMembers;

class Reader {
 public:
  Reader(std::string_view text, size_t maxDepth, Json::LoneSurrogates lone)
      : text_(text), maxDepth_(maxDepth), lone_(lone) {}
  size_t at() const { return at_; }

  std::optional<Json> document() {
    std::optional<Json> v = value(0);
    blanks();
    if (!v || at_ != text_.size()) return std::nullopt;
    return v;
  }

 private:
  void blanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }
  bool take(char c) {
    blanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool word(std::string_view w) {
    if (text_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  std::optional<Json> value(size_t depth) {
    blanks();
    if (at_ >= text_.size()) return std::nullopt;
    switch (text_[at_]) {
      // A value nested in `depth` containers may itself be one only within the bound.
      case '{':
        return depth < maxDepth_ ? object(depth) : std::nullopt;
      case '[':
        return depth < maxDepth_ ? array(depth) : std::nullopt;
      case '"': {
        std::optional<std::string> s = string();
        if (!s) return std::nullopt;
        return Json(std::move(*s));
      }
      case 't':
        return word("true") ? std::optional<Json>(Json(true)) : std::nullopt;
      case 'f':
        return word("false") ? std::optional<Json>(Json(false)) : std::nullopt;
      case 'n':
        return word("null") ? std::optional<Json>(Json()) : std::nullopt;
      default:
        return number();
    }
  }

  std::optional<Json> object(size_t depth) {
    ++at_;
    Json object{Json::Object{}};
    if (take('}')) return object;
    do {
      blanks();
      std::optional<std::string> key = string();
      if (!key || object.has(*key) || !take(':')) return std::nullopt;
      std::optional<Json> v = value(depth + 1);
      if (!v) return std::nullopt;
      object.addMember(std::move(*key), std::move(*v));
    } while (take(','));
    if (!take('}')) return std::nullopt;
    return object;
  }

  std::optional<Json> array(size_t depth) {
    ++at_;
    Json::Array items;
    if (take(']')) return Json(std::move(items));
    do {
      std::optional<Json> v = value(depth + 1);
      if (!v) return std::nullopt;
      items.push_back(std::move(*v));
    } while (take(','));
    if (!take(']')) return std::nullopt;
    return Json(std::move(items));
  }

  // The grammar is checked here; from_chars only converts.
  std::optional<Json> number() {
    const size_t start = at_;
    auto digits = [this] {
      const size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
        ++at_;
      return at_ - from;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (digits() == 0) {
      return std::nullopt;
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (digits() == 0) return std::nullopt;
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (digits() == 0) return std::nullopt;
    }
    const std::string_view literal = text_.substr(start, at_ - start);
    double n = 0;
    const auto r = std::from_chars(literal.data(), literal.data() + literal.size(), n);
    if (r.ec == std::errc::result_out_of_range) {
      // Beyond a double: too small goes to zero, too large to infinity.
      const size_t e = literal.find_first_of("eE");
      const bool negative = literal[0] == '-';
      const bool tiny =
          e != std::string_view::npos ? literal[e + 1] == '-' : literal[negative ? 1 : 0] == '0';
      n = tiny ? (negative ? -0.0 : 0.0) : (negative ? -HUGE_VAL : HUGE_VAL);
    } else if (r.ec != std::errc()) {
      return std::nullopt;
    }
    return Json(n);
  }

  bool hex4(uint32_t& out) {
    if (at_ + 4 > text_.size()) return false;
    out = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      out <<= 4;
      if (c >= '0' && c <= '9') {
        out |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        out |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        out |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    return true;
  }

  std::optional<std::string> string() {
    if (at_ >= text_.size() || text_[at_] != '"') return std::nullopt;
    ++at_;
    std::string out;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) return std::nullopt;
      const char e = text_[at_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t cp;
          if (!hex4(cp)) return std::nullopt;
          // Half a surrogate pair stands as U+FFFD, so that the text stays
          // UTF-8, or is refused.
          if (cp >= 0xD800 && cp < 0xDC00 && text_.substr(at_, 2) == "\\u") {
            const size_t back = at_;
            at_ += 2;
            uint32_t low;
            if (!hex4(low)) return std::nullopt;
            if (low >= 0xDC00 && low < 0xE000) {
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else {
              at_ = back;
              cp = 0xFFFD;
              if (lone_ == Json::LoneSurrogates::kRefused) return std::nullopt;
            }
          } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
            if (lone_ == Json::LoneSurrogates::kRefused) return std::nullopt;
          }
          render::appendUtf8(cp, out);
          break;
        }
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  std::string_view text_;
  size_t maxDepth_;
  Json::LoneSurrogates lone_;
  size_t at_ = 0;
};

void dumpString(const std::string& s, std::string& out) {
  out += '"';
  for (char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
          out += esc;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void dumpValue(const Json& v, std::string& out) {
  switch (v.type()) {
    case Json::Type::kNull:
      out += "null";
      break;
    case Json::Type::kBool:
      out += v.asBool() ? "true" : "false";
      break;
    case Json::Type::kNumber: {
      const double n = v.asNumber();
      char text[32];
      if (!std::isfinite(n)) {
        out += "null";
      } else if (n == std::floor(n) && std::fabs(n) < 9007199254740992.0) {
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(n));
        out += text;
      } else {
        std::snprintf(text, sizeof text, "%.17g", n);
        out += text;
      }
      break;
    }
    case Json::Type::kString:
      dumpString(v.asString(), out);
      break;
    case Json::Type::kArray: {
      out += '[';
      bool first = true;
      for (const Json& item : v.items()) {
        if (!first) out += ',';
        first = false;
        dumpValue(item, out);
      }
      out += ']';
      break;
    }
    case Json::Type::kObject: {
      out += '{';
      bool first = true;
      for (const auto& [key, item] : v.members()) {
        if (!first) out += ',';
        first = false;
        dumpString(key, out);
        out += ':';
        dumpValue(item, out);
      }
      out += '}';
      break;
    }
  }
}

}  // namespace

const Json::Array& Json::items() const {
  return type_ == Type::kArray ? array_ : kNoItems;
}

const Json::Object& Json::members() const {
  return type_ == Type::kObject ? object_ : kNoMembers;
}

const Json& Json::operator[](const std::string& key) const {
  const Object& m = members();
  const auto it = m.find(key);
  return it == m.end() ? kNull : it->second;
}

std::string Json::dump() const {
  std::string out;
  dumpValue(*this, out);
  return out;
}

bool Json::addMember(std::string key, Json value) {
  if (type_ != Type::kObject || object_.count(key) > 0) return false;
  order_.push_back(key);
  object_.emplace(std::move(key), std::move(value));
  return true;
}

std::optional<Json> Json::parse(std::string_view text, size_t maxDepth, LoneSurrogates lone,
                                std::string* why) {
  Reader reader(text, maxDepth, lone);
  std::optional<Json> value = reader.document();
  if (!value && why != nullptr) *why = "not JSON, stopped at byte " + std::to_string(reader.at());
  return value;
}

bool Json::operator==(const Json& o) const {
  if (type_ != o.type_) return false;
  switch (type_) {
    case Type::kNull:
      return true;
    case Type::kBool:
      return bool_ == o.bool_;
    case Type::kNumber:
      return number_ == o.number_;
    case Type::kString:
      return string_ == o.string_;
    case Type::kArray:
      return array_ == o.array_;
    case Type::kObject:
      return object_ == o.object_;
  }
  return false;
}

}  // namespace testjson
