/// @file query_parser.cc
/// @brief Lexer and recursive-descent parser of the engine's query language.

#include "companions/engine/query_parser.h"

#include <utility>

namespace vela {

namespace {

enum class Tok { kWord, kPhrase, kAnd, kOr, kNot, kOpen, kClose, kEnd };

bool isBlank(std::string_view s, size_t i, size_t* len) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  if (c == ' ' || isControlByte(c)) {
    *len = 1;
    return true;
  }
  // U+3000, the ideographic space, separates words in CJK text.
  if (c == 0xE3 && s.substr(i, 3) == "\xE3\x80\x80") {
    *len = 3;
    return true;
  }
  return false;
}

bool isOperatorChar(char c) {
  return c == '&' || c == '+' || c == '|' || c == ',' || c == '-' || c == '(' || c == ')' ||
         c == '"';
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : s_(text) { next(); }
  Tok tok() const { return tok_; }
  std::string take() { return std::move(word_); }

  void next() {
    size_t len = 0;
    while (pos_ < s_.size() && isBlank(s_, pos_, &len))
      pos_ += len;
    if (pos_ >= s_.size()) {
      tok_ = Tok::kEnd;
      return;
    }
    char c = s_[pos_];
    if (c == '"') return phrase();
    if (isOperatorChar(c)) {
      ++pos_;
      tok_ = c == '&' || c == '+'   ? Tok::kAnd
             : c == '|' || c == ',' ? Tok::kOr
             : c == '-'             ? Tok::kNot
             : c == '('             ? Tok::kOpen
                                    : Tok::kClose;
      return;
    }
    // A word has begun, so a hyphen from here on joins its parts.
    size_t start = pos_;
    while (pos_ < s_.size() && (s_[pos_] == '-' || !isOperatorChar(s_[pos_])) &&
           !isBlank(s_, pos_, &len))
      ++pos_;
    word_.assign(s_.substr(start, pos_ - start));
    tok_ = word_ == "AND"   ? Tok::kAnd
           : word_ == "OR"  ? Tok::kOr
           : word_ == "NOT" ? Tok::kNot
                            : Tok::kWord;
  }

 private:
  // A phrase runs to the next double quote, or to the end of the text.
  void phrase() {
    size_t start = ++pos_;
    size_t close = s_.find('"', start);
    size_t stop = close == std::string_view::npos ? s_.size() : close;
    word_.assign(s_.substr(start, stop - start));
    pos_ = close == std::string_view::npos ? s_.size() : close + 1;
    tok_ = Tok::kPhrase;
  }

  std::string_view s_;
  size_t pos_ = 0;
  Tok tok_ = Tok::kEnd;
  std::string word_;
};

using NodePtr = std::unique_ptr<QueryNode>;

NodePtr makeGroup(QueryNode::Kind kind, std::vector<NodePtr> items) {
  if (items.empty()) return nullptr;
  if (items.size() == 1) return std::move(items[0]);
  auto node = std::make_unique<QueryNode>();
  node->kind = kind;
  node->children = std::move(items);
  return node;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : lex_(text) {}

  NodePtr parseTop() {
    std::vector<NodePtr> items;
    for (;;) {
      if (NodePtr n = parseOr(0)) items.push_back(std::move(n));
      if (lex_.tok() == Tok::kEnd) break;
      lex_.next();  // an unmatched ")"
    }
    return makeGroup(QueryNode::Kind::kAnd, std::move(items));
  }

 private:
  NodePtr parseOr(int depth) {
    std::vector<NodePtr> items;
    for (;;) {
      if (NodePtr n = parseAnd(depth)) items.push_back(std::move(n));
      if (lex_.tok() != Tok::kOr) break;
      lex_.next();
    }
    return makeGroup(QueryNode::Kind::kOr, std::move(items));
  }

  NodePtr parseAnd(int depth) {
    std::vector<NodePtr> items;
    for (;;) {
      Tok t = lex_.tok();
      if (t == Tok::kEnd || t == Tok::kOr || t == Tok::kClose) break;
      if (t == Tok::kAnd) {
        lex_.next();
        continue;
      }
      bool negate = false;
      while (lex_.tok() == Tok::kNot || lex_.tok() == Tok::kAnd) {
        if (lex_.tok() == Tok::kNot) negate = !negate;
        lex_.next();
      }
      NodePtr operand = parsePrimary(depth);
      if (!operand) continue;
      if (negate) {
        auto n = std::make_unique<QueryNode>();
        n->kind = QueryNode::Kind::kNot;
        n->children.push_back(std::move(operand));
        operand = std::move(n);
      }
      items.push_back(std::move(operand));
    }
    return makeGroup(QueryNode::Kind::kAnd, std::move(items));
  }

  // Consumes at least one token unless the current one ends a group.
  NodePtr parsePrimary(int depth) {
    Tok t = lex_.tok();
    if (t == Tok::kWord || t == Tok::kPhrase) {
      std::string text = lex_.take();
      lex_.next();
      if (leaves_ >= kMaxQueryLeaves || text.empty()) return nullptr;
      ++leaves_;
      auto leaf = std::make_unique<QueryNode>();
      leaf->text = std::move(text);
      leaf->quoted = t == Tok::kPhrase;
      return leaf;
    }
    if (t != Tok::kOpen) return nullptr;
    lex_.next();
    if (depth >= kMaxQueryDepth) return nullptr;  // the "(" reads as a blank
    NodePtr inner = parseOr(depth + 1);
    if (lex_.tok() == Tok::kClose) lex_.next();
    return inner;
  }

  Lexer lex_;
  size_t leaves_ = 0;
};

void describe(const QueryNode* n, std::string& out) {
  if (!n) return;
  switch (n->kind) {
    case QueryNode::Kind::kLeaf:
      out += n->quoted ? "\"" + n->text + "\"" : n->text;
      return;
    case QueryNode::Kind::kAnd:
      out += "(AND";
      break;
    case QueryNode::Kind::kOr:
      out += "(OR";
      break;
    case QueryNode::Kind::kNot:
      out += "(NOT";
      break;
  }
  for (const auto& c : n->children) {
    out += ' ';
    describe(c.get(), out);
  }
  out += ')';
}

}  // namespace

std::unique_ptr<QueryNode> parseQuery(std::string_view utf8) {
  return Parser(utf8).parseTop();
}

std::string describeQuery(const QueryNode* node) {
  std::string out;
  describe(node, out);
  return out;
}

bool hasWildcard(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

std::vector<std::string_view> hyphenParts(std::string_view word) {
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t hyphen = word.find('-');
    parts.push_back(word.substr(0, hyphen));
    if (hyphen == std::string_view::npos) return parts;
    word.remove_prefix(hyphen + 1);
  }
}

size_t countWildcardWords(const QueryNode* node) {
  if (!node) return 0;
  if (node->kind == QueryNode::Kind::kLeaf) {
    if (node->quoted) return 0;
    size_t count = 0;
    for (std::string_view part : hyphenParts(node->text))
      count += hasWildcard(part) ? 1 : 0;
    return count;
  }
  size_t count = 0;
  for (const auto& c : node->children)
    count += countWildcardWords(c.get());
  return count;
}

void blankControlBytes(std::string& text) {
  for (char& c : text)
    if (isControlByte(static_cast<unsigned char>(c))) c = ' ';
}

}  // namespace vela
