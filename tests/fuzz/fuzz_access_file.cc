/// @file fuzz_access_file.cc
/// @brief Arbitrary bytes as the access file of an index: the rules, the
/// record words of both companion kinds, and user tables that must read
/// back as they were written.

#include "access/access_rules.h"
#include "access/acl_rights.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  AccessRules rules;
  std::string error;
  if (!rules.parse(bytes, error)) {
    fuzzscratch::check(!error.empty() && rules.ruleCount() == 0);
    return 0;
  }
  for (const AclKind kind : {AclKind::kFile, AclKind::kBuilder}) {
    const AclCoding coding(rules, kind);
    for (const char* path : {"a", "pub/x.txt", "hr/a/b", ""})
      coding.recordText(path);
    AclUserTable back;
    fuzzscratch::check(parseAclUserTable(formatAclUserTable(coding.userTable()), kind, back));
    fuzzscratch::check(back == coding.userTable());
  }
  return 0;
}
