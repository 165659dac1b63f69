/// @file acl_rights.cc
/// @brief Codes, user tables and record words of the ACL companions.

#include "access/acl_rights.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "system/numbers.h"

namespace {

constexpr const char* kEveryoneFileWord = "000";
constexpr const char* kEveryoneBuilderWord = "p0";

std::string fileWord(uint32_t code) {
  char word[16];
  std::snprintf(word, sizeof word, "%02u", code);
  return word;
}

std::string builderWord(uint32_t code) {
  return "p" + std::to_string(code);
}

bool parseCodes(std::string_view text, AclKind kind, std::vector<uint32_t>& codes) {
  size_t start = 0;
  for (;;) {
    const size_t blank = text.find(' ', start);
    const std::string_view digits =
        text.substr(start, blank == std::string_view::npos ? blank : blank - start);
    int64_t code = 0;
    // Digits only: parseDecimal would also take a sign.
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos ||
        !parseDecimal(digits, 1, kMaxAclCode, code))
      return false;
    codes.push_back(static_cast<uint32_t>(code));
    if (blank == std::string_view::npos) break;
    start = blank + 1;
  }
  return kind == AclKind::kBuilder || codes.size() == 1;
}

bool parseTableLine(std::string_view line, AclKind kind, AclUserTable& out) {
  const size_t tab = line.find('\t');
  if (tab == 0 || tab == std::string_view::npos) return false;
  const std::string user(line.substr(0, tab));
  if (std::any_of(user.begin(), user.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
    return false;
  std::vector<uint32_t> codes;
  if (!parseCodes(line.substr(tab + 1), kind, codes)) return false;
  return out.emplace(user, std::move(codes)).second;
}

}  // namespace

const char* aclCompanionSuffix(AclKind kind) {
  return kind == AclKind::kFile ? "_ntfs" : "_acl";
}

const char* aclSwitchFile(AclKind kind) {
  return kind == AclKind::kFile ? kFileAclSwitch : kAclBuilderSwitch;
}

bool parseAclUserTable(std::string_view bytes, AclKind kind, AclUserTable& out) {
  out.clear();
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(start, end - start);
    start = end + 1;
    // A comment holds no TAB: a user named "#..." still has a line of codes.
    if (!line.empty() && line[0] == '#' && line.find('\t') == std::string_view::npos) continue;
    if (!parseTableLine(line, kind, out)) {
      out.clear();
      return false;
    }
  }
  return true;
}

std::string formatAclUserTable(const AclUserTable& table) {
  std::string out = "# user<TAB>codes, written by the index builder\n";
  for (const auto& [user, codes] : table) {
    out += user;
    char separator = '\t';
    for (uint32_t code : codes) {
      out += separator;
      out += std::to_string(code);
      separator = ' ';
    }
    out += '\n';
  }
  return out;
}

std::string fileAclSearchText(uint32_t code) {
  return code == 0 ? kEveryoneFileWord : fileWord(code) + " | " + kEveryoneFileWord;
}

std::string aclBuilderSearchText(const std::vector<uint32_t>& codes) {
  std::string text;
  for (uint32_t code : codes)
    text += builderWord(code) + " | ";
  return text + kEveryoneBuilderWord;
}

AclCoding::AclCoding(const AccessRules& rules, AclKind kind) : m_rules(rules), m_kind(kind) {
  uint32_t next = 1;
  for (const std::string& user : rules.users())
    m_userCodes[user] = next++;
  if (kind == AclKind::kBuilder)
    for (const auto& group : rules.groups())
      m_groupCodes[group.first] = next++;
  for (const auto& [user, code] : m_userCodes) {
    std::vector<uint32_t>& codes = m_table[user];
    codes.push_back(code);
    if (kind == AclKind::kBuilder)
      for (const std::string& group : rules.groupsOf(user))
        codes.push_back(m_groupCodes.at(group));
  }
}

std::string AclCoding::recordText(const std::string& path) const {
  const AccessReaders* readers = m_rules.readersOf(path);
  if (readers == nullptr) return "";
  if (readers->everyone) return m_kind == AclKind::kFile ? kEveryoneFileWord : kEveryoneBuilderWord;
  std::set<uint32_t> codes;
  for (const std::string& user : readers->users)
    codes.insert(m_userCodes.at(user));
  for (const std::string& group : readers->groups) {
    if (m_kind == AclKind::kBuilder) {
      codes.insert(m_groupCodes.at(group));
      continue;
    }
    // A file ACL names users only: a group stands for its members.
    for (const std::string& member : m_rules.groups().at(group))
      codes.insert(m_userCodes.at(member));
  }
  std::string text;
  for (uint32_t code : codes) {
    if (!text.empty()) text += ' ';
    text += m_kind == AclKind::kFile ? fileWord(code) : builderWord(code);
  }
  return text;
}
