/// @file fuzz_engine_query.cc
/// @brief Fuzz target: the search engine's query parser on arbitrary text.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "companions/engine/query_parser.h"

namespace {

// Every node the parser hands out must be well formed.
void check(const vela::QueryNode* n, int depth) {
  if (!n) return;
  // Each level of parentheses adds at most an OR, an AND and a NOT.
  if (depth > 3 * vela::kMaxQueryDepth + 8) __builtin_trap();
  switch (n->kind) {
    case vela::QueryNode::Kind::kLeaf:
      if (n->text.empty() || !n->children.empty()) __builtin_trap();
      break;
    case vela::QueryNode::Kind::kNot:
      if (n->children.size() != 1) __builtin_trap();
      break;
    default:
      if (n->children.size() < 2) __builtin_trap();
  }
  for (const auto& c : n->children)
    check(c.get(), depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto tree = vela::parseQuery(std::string_view(reinterpret_cast<const char*>(data), size));
  check(tree.get(), 0);
  vela::describeQuery(tree.get());
  return 0;
}
