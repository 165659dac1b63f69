/// @file fuzz_acl_table.cc
/// @brief Arbitrary bytes as the user table of an ACL companion: a table is
/// taken whole or not at all, and one taken reads back as it was.

#include "access/acl_rights.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const AclKind kind : {AclKind::kFile, AclKind::kBuilder}) {
    AclUserTable table;
    if (!parseAclUserTable(bytes, kind, table)) {
      fuzzscratch::check(table.empty());
      continue;
    }
    for (const auto& entry : table) {
      fuzzscratch::check(!entry.second.empty());
      fuzzscratch::check(kind == AclKind::kBuilder || entry.second.size() == 1);
      aclBuilderSearchText(entry.second);
      fileAclSearchText(entry.second.front());
    }
    AclUserTable back;
    fuzzscratch::check(parseAclUserTable(formatAclUserTable(table), kind, back) && back == table);
  }
  return 0;
}
