/// @file acl_rights.h
/// @brief How the rights of an access file are written into the ACL
/// companion indexes of an index, and read back for one user.
///
/// A companion holds one engine record per record of the index it belongs
/// to (same numbers); the words of a record name who may read that record.
/// A user's search text over the companion finds the records the user may
/// read. Two kinds:
///   file ACL ("<index>_ntfs", "<index>_inc_ntfs"): words "000" (everyone)
///     and "%02d" of the code of every user who may read, the members of
///     groups included; the user table holds one code a user; a user's
///     search text is "%02d | 000" with the code, "000" without one.
///   ACL builder ("<index>_acl", "<index>_inc_acl"): words "p0" (everyone)
///     and "p<code>" of every user and group who may read; the user table
///     holds a user's own code and those of the user's groups; the search
///     text is "p<code> | ... | p0", "p0" for a user the table does not name.
/// Beside the words, a companion directory holds the user table
/// (kAclUserTableFile: lines "USER<TAB>CODE[ CODE...]", and comment lines
/// that begin with "#" and hold no TAB), the stamp of the
/// build of the index it describes (kAclStampFile, also in that index's
/// directory; a companion whose stamp differs describes other records) and a
/// copy of the access file it was made from (kAclRulesCopyFile).

#ifndef SEARCHRUN_ACCESS_ACL_RIGHTS_H
#define SEARCHRUN_ACCESS_ACL_RIGHTS_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "access/access_rules.h"

enum class AclKind { kFile, kBuilder };

constexpr const char* kAclUserTableFile = "acl_users";
constexpr const char* kAclStampFile = "acl_stamp";
constexpr const char* kAclRulesCopyFile = "access_rules";
// The switches in the index directory that mark an index as protected.
constexpr const char* kFileAclSwitch = "doc_ntfs.cfg";
constexpr const char* kAclBuilderSwitch = "acl_builder_option.cfg";
// Largest user table read.
constexpr size_t kMaxAclUserTableBytes = 16u << 20;
// Largest code a table may give.
constexpr uint32_t kMaxAclCode = 99999999;

// "_ntfs" or "_acl": the org companion is the index name with it, the inc
// companion the inc index name with it.
const char* aclCompanionSuffix(AclKind kind);
// The switch file of a kind.
const char* aclSwitchFile(AclKind kind);

// User name -> codes (file ACL: exactly one).
using AclUserTable = std::map<std::string, std::vector<uint32_t>>;

// Parses a user table. False, `out` empty, at the first line that is not
// "USER<TAB>CODES" (a user without control characters, decimal codes from 1
// to kMaxAclCode separated by one blank, one code for kFile), or a user
// named twice. A table that cannot be trusted whole gives no rights at all.
bool parseAclUserTable(std::string_view bytes, AclKind kind, AclUserTable& out);
std::string formatAclUserTable(const AclUserTable& table);

// The search texts of a user.
std::string fileAclSearchText(uint32_t code);  // 0: "000"
std::string aclBuilderSearchText(const std::vector<uint32_t>& codes);

// The coding of one access file for one kind: codes for its users (and,
// for the ACL builder, its groups), the user table and the record words.
class AclCoding {
 public:
  AclCoding(const AccessRules& rules, AclKind kind);
  // The words of the companion record of the document at `path` (below the
  // indexed folder); "" when nobody may read it.
  std::string recordText(const std::string& path) const;
  const AclUserTable& userTable() const { return m_table; }

 private:
  const AccessRules& m_rules;
  AclKind m_kind;
  std::map<std::string, uint32_t> m_userCodes;
  std::map<std::string, uint32_t> m_groupCodes;
  AclUserTable m_table;
};

#endif  // SEARCHRUN_ACCESS_ACL_RIGHTS_H
