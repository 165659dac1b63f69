/// @file fuzz_engine_query.cc
/// @brief The search engine's query parser on arbitrary text: every node it
/// hands out is well formed, no word holds a control byte, and the wildcard
/// count that the per-run limit compares stays within the words kept.

#include "companions/engine/query_parser.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

size_t checkNode(const vela::QueryNode* n, int depth) {
  if (!n) return 0;
  // Each level of parentheses adds at most an OR, an AND and a NOT.
  fuzzscratch::check(depth <= 3 * vela::kMaxQueryDepth + 8);
  using Kind = vela::QueryNode::Kind;
  fuzzscratch::check(n->kind == Kind::kLeaf  ? !n->text.empty() && n->children.empty()
                     : n->kind == Kind::kNot ? n->children.size() == 1
                                             : n->children.size() >= 2);
  size_t leaves = n->kind == Kind::kLeaf ? 1 : 0;
  for (char c : n->text)
    fuzzscratch::check(!vela::isControlByte(static_cast<unsigned char>(c)) || n->quoted);
  for (const auto& c : n->children)
    leaves += checkNode(c.get(), depth + 1);
  return leaves;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto tree = vela::parseQuery({reinterpret_cast<const char*>(data), size});
  const size_t leaves = checkNode(tree.get(), 0);
  fuzzscratch::check(leaves <= vela::kMaxQueryLeaves);
  fuzzscratch::check(vela::countWildcardWords(tree.get()) <= leaves);
  vela::describeQuery(tree.get());
  return 0;
}
