/// @file fuzz_engine_query.cc
/// @brief The search engine's query parser on arbitrary text: every node it
/// hands out is well formed, no word holds a control byte or begins with the
/// hyphen that excludes, and the wildcard count that the per-run limit
/// compares stays within the parts of the words kept.

#include "companions/engine/query_parser.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

struct Counts {
  size_t leaves = 0;
  size_t parts = 0;  // hyphen parts of unquoted words
};

void checkNode(const vela::QueryNode* n, int depth, Counts& counts) {
  if (!n) return;
  // Each level of parentheses adds at most an OR, an AND and a NOT.
  fuzzscratch::check(depth <= 3 * vela::kMaxQueryDepth + 8);
  using Kind = vela::QueryNode::Kind;
  fuzzscratch::check(n->kind == Kind::kLeaf  ? !n->text.empty() && n->children.empty()
                     : n->kind == Kind::kNot ? n->children.size() == 1
                                             : n->children.size() >= 2);
  if (n->kind == Kind::kLeaf) {
    ++counts.leaves;
    if (!n->quoted) {
      fuzzscratch::check(n->text[0] != '-');
      counts.parts += vela::hyphenParts(n->text).size();
    }
  }
  for (char c : n->text)
    fuzzscratch::check(!vela::isControlByte(static_cast<unsigned char>(c)) || n->quoted);
  for (const auto& c : n->children)
    checkNode(c.get(), depth + 1, counts);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto tree = vela::parseQuery({reinterpret_cast<const char*>(data), size});
  Counts counts;
  if (tree) checkNode(tree.get(), 0, counts);
  fuzzscratch::check(counts.leaves <= vela::kMaxQueryLeaves);
  fuzzscratch::check(vela::countWildcardWords(tree.get()) <= counts.parts);
  vela::describeQuery(tree.get());
  return 0;
}
