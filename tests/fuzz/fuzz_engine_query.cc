/// @file fuzz_engine_query.cc
/// @brief The search engine's query parser on arbitrary text: every node it
/// hands out is well formed.

#include "companions/engine/query_parser.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

void checkNode(const vela::QueryNode* n, int depth) {
  if (!n) return;
  // Each level of parentheses adds at most an OR, an AND and a NOT.
  fuzzscratch::check(depth <= 3 * vela::kMaxQueryDepth + 8);
  using Kind = vela::QueryNode::Kind;
  fuzzscratch::check(n->kind == Kind::kLeaf  ? !n->text.empty() && n->children.empty()
                     : n->kind == Kind::kNot ? n->children.size() == 1
                                             : n->children.size() >= 2);
  for (const auto& c : n->children)
    checkNode(c.get(), depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto tree = vela::parseQuery({reinterpret_cast<const char*>(data), size});
  checkNode(tree.get(), 0);
  vela::describeQuery(tree.get());
  return 0;
}
