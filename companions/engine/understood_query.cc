/// @file understood_query.cc
/// @brief The query as the engine understood it, written back for the reader:
/// the words it searched, their thesaurus groups, and the operators.

#include "companions/engine/engine_query.h"

#include "companions/engine/codepage.h"
#include "companions/engine/text_fold.h"

namespace vela {

namespace {

// The text of the tokens as a reader would write it: CJK characters of one
// run together, everything else separated by blanks.
std::string displayForm(const std::vector<TextToken>& tokens) {
  std::string out;
  for (const TextToken& t : tokens) {
    if (!out.empty() && !t.joined) out += ' ';
    out += t.text;
  }
  return out;
}

// A word or phrase as a reader writes it: in double quotes once it has
// several words.
std::string shownText(const std::string& words) {
  return words.find(' ') == std::string::npos ? words : "\"" + words + "\"";
}

std::string shownLeaf(const QueryNode* n, const Thesaurus* thesaurus) {
  const std::string folded = foldText(n->text);
  std::string shown;
  if (!n->quoted && hasWildcard(folded)) {
    std::string words;
    for (std::string_view part : hyphenParts(folded)) {
      const std::string piece = hasWildcard(part) ? std::string(part) : displayForm(tokenize(part));
      if (!piece.empty()) words += (words.empty() ? "" : " ") + piece;
    }
    shown = shownText(words);
  } else {
    shown = shownText(displayForm(tokenize(folded)));
  }
  if (!thesaurus || n->quoted) return shown;
  std::vector<std::string> alternatives;
  if (!shown.empty()) alternatives.push_back(shown);
  for (const std::string& s : thesaurus->synonyms(folded)) {
    const std::string other = shownText(displayForm(tokenize(s)));
    if (!other.empty()) alternatives.push_back(other);
  }
  if (alternatives.size() < 2) return shown;
  std::string group = "(";
  for (size_t i = 0; i < alternatives.size(); ++i)
    group += (i ? " OR " : "") + alternatives[i];
  return group + ")";
}

std::string shown(const QueryNode* n, const Thesaurus* thesaurus);

// A group shown inside another: in parentheses unless it is one word.
std::string nested(const QueryNode* n, const Thesaurus* thesaurus) {
  const std::string text = shown(n, thesaurus);
  const bool group = n->kind == QueryNode::Kind::kAnd || n->kind == QueryNode::Kind::kOr;
  return group && text.find(' ') != std::string::npos ? "(" + text + ")" : text;
}

std::string shown(const QueryNode* n, const Thesaurus* thesaurus) {
  switch (n->kind) {
    case QueryNode::Kind::kLeaf:
      return shownLeaf(n, thesaurus);
    case QueryNode::Kind::kNot: {
      const std::string inner = nested(n->children[0].get(), thesaurus);
      return inner.empty() ? "" : "NOT " + inner;
    }
    case QueryNode::Kind::kOr: {
      std::string out;
      for (const auto& c : n->children) {
        const std::string part = nested(c.get(), thesaurus);
        if (!part.empty()) out += (out.empty() ? "" : " OR ") + part;
      }
      return out;
    }
    case QueryNode::Kind::kAnd:
      break;
  }
  std::string out;
  for (const auto& c : n->children) {
    const std::string part = nested(c.get(), thesaurus);
    if (part.empty()) continue;
    // "a NOT b" rather than "a AND NOT b".
    const bool isNot = c->kind == QueryNode::Kind::kNot;
    out += out.empty() ? part : (isNot ? " " : " AND ") + part;
  }
  return out;
}

}  // namespace

std::string understoodQuery(const QueryNode* root, const Thesaurus* thesaurus) {
  return root ? shown(root, thesaurus) : "";
}

std::string understoodHeader(const std::string& utf8, const CodePage& cp) {
  const std::string local = cp.fromUtf8(utf8);
  if (local.size() <= kMaxMatchedBytes) return headerMatchedString(local, cp);
  // Cut after a whole word, room left for the mark: a blank is one byte in
  // every code page, and never the second byte of a character.
  const std::string_view head = cp.cut(local, kMaxMatchedBytes - 4);
  const size_t blank = head.rfind(' ');
  return std::string(head.substr(0, blank == std::string_view::npos ? head.size() : blank)) +
         " ...";
}

}  // namespace vela
