/// @file acl_index.cc
/// @brief Staging and switching in the companions of an index.

#include "companions/builder/acl_index.h"

#include <unistd.h>

#include <filesystem>

#include "companions/builder/index_builder.h"
#include "companions/engine/index_files.h"
#include "system/index_format.h"
#include "system/secure_file.h"

namespace vela {

namespace fs = std::filesystem;

struct CompanionBuild::Protection {
  AclKind kind = AclKind::kBuilder;
  AccessRules rules;
  std::string text;    // the access file as read
  bool fresh = false;  // given to this run (not kept from before)
};

namespace {

constexpr AclKind kKinds[] = {AclKind::kFile, AclKind::kBuilder};
constexpr const char* kSwitchOn = "1\n";

// Reads and parses an access file; false with a message naming it and,
// for a malformed one, the line.
bool readAccessFile(const std::string& path, AccessRules& rules, std::string& text,
                    std::string& error) {
  if (!readRegularFile(path, text, kMaxAccessFileBytes + 1) || text.size() > kMaxAccessFileBytes) {
    error = "cannot read the access file " + path + " (a regular file of at most " +
            std::to_string(kMaxAccessFileBytes) + " bytes)";
    return false;
  }
  std::string problem;
  if (rules.parse(text, problem)) return true;
  error = "access file " + path + ", " + problem;
  return false;
}

}  // namespace

bool buildAclCompanionStaged(const std::string& staged, const AclCoding& coding,
                             const std::vector<std::string>& sources, const std::string& stamp,
                             const std::string& rulesText, std::string& error) {
  try {
    IndexWriter writer(staged);
    for (const std::string& source : sources) {
      RecordText text;
      if (!source.empty()) text.doc.body = coding.recordText(source);
      writer.add(StoredRecord(), text);
    }
    if (!writer.finish(error)) return false;
  } catch (const Xapian::Error& e) {
    error = "cannot build " + staged + ": " + e.get_description();
    return false;
  }
  if (writeNewFile(staged + "/" + kAclUserTableFile, formatAclUserTable(coding.userTable())) &&
      writeNewFile(staged + "/" + kAclStampFile, stamp) &&
      writeNewFile(staged + "/" + kAclRulesCopyFile, rulesText))
    return true;
  error = "cannot write the rights files in " + staged;
  return false;
}

std::string newAclStamp() {
  unsigned char bytes[16];
  if (!systemRandomBytes(bytes, sizeof bytes)) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string stamp;
  for (unsigned char b : bytes) {
    stamp += kHex[b >> 4];
    stamp += kHex[b & 15];
  }
  return stamp;
}

CompanionBuild::CompanionBuild(const CodePage& cp, std::string home)
    : m_cp(cp), m_home(std::move(home)) {}

CompanionBuild::~CompanionBuild() {
  std::error_code ec;
  for (const Staged& s : m_staged)
    fs::remove_all(s.dir, ec);
}

bool CompanionBuild::prepare(const std::string& accessFile, AclKind kind, std::string& error) {
  for (const AclKind k : kKinds) {
    auto p = std::make_unique<Protection>();
    p->kind = k;
    if (!accessFile.empty() && k == kind) {
      if (!readAccessFile(accessFile, p->rules, p->text, error)) return false;
      p->fresh = true;
    } else {
      const std::string kept = m_home + aclCompanionSuffix(k) + "/" + kAclRulesCopyFile;
      std::error_code ec;
      if (!fs::exists(fs::symlink_status(kept, ec))) continue;
      if (!readAccessFile(kept, p->rules, p->text, error)) {
        error = "the index's kept " + error + "; give the access file again with --access";
        return false;
      }
    }
    m_protections.push_back(std::move(p));
  }
  return true;
}

void CompanionBuild::addRecord(bool inc, const std::string& source,
                               const DocProperties& properties) {
  m_sources[inc].push_back(source);
  m_properties[inc].push_back(properties);
}

void CompanionBuild::carryRecord(bool inc, uint32_t oldDoc, const StoredRecord& stored) {
  if (!m_previousRead) {
    m_previousRead = true;
    readFileListProperties(m_home + kFileListSuffix, m_previous);
  }
  const bool known = oldDoc >= 1 && oldDoc <= m_previous.size();
  addRecord(inc, stored.source, known ? m_previous[oldDoc - 1] : storedProperties(stored, m_cp));
}

std::string CompanionBuild::stagingFor(const std::string& target) const {
  // Named like the builder's other staging directories, so that a run that
  // finds one of a builder that is gone removes it.
  const fs::path t(target);
  return (t.parent_path() / ("." + t.filename().string() + ".org.new" + std::to_string(getpid())))
      .string();
}

bool CompanionBuild::stageSide(const Protection& p, bool inc, const std::string& stamp,
                               std::string& error) {
  const std::string target = (inc ? incPartOf(m_home) : m_home) + aclCompanionSuffix(p.kind);
  const std::string dir = stagingFor(target);
  m_staged.push_back({dir, target});
  const AclCoding coding(p.rules, p.kind);
  return buildAclCompanionStaged(dir, coding, m_sources[inc], stamp, p.text, error);
}

bool CompanionBuild::stage(const std::string& stagedOrg, const std::string& stagedInc,
                           std::string& error) {
  std::vector<DocProperties> all = m_properties[0];
  all.insert(all.end(), m_properties[1].begin(), m_properties[1].end());
  const std::string fileTarget = m_home + kFileListSuffix;
  m_staged.push_back({stagingFor(fileTarget), fileTarget});
  if (!buildFileListStaged(m_staged.back().dir, all, error)) return false;
  if (m_protections.empty()) return true;

  bool anyFresh = false;
  for (const auto& p : m_protections)
    anyFresh = anyFresh || p->fresh;
  // A new stamp of the org part makes every kind's org companion stale.
  const bool orgAgain = !stagedOrg.empty() || anyFresh;
  const std::string orgStamp = orgAgain ? newAclStamp() : "";
  const std::string incStamp = stagedInc.empty() ? "" : newAclStamp();
  if ((orgAgain && orgStamp.empty()) || (!stagedInc.empty() && incStamp.empty())) {
    error = "the system's random source gives no stamp";
    return false;
  }
  for (const auto& p : m_protections) {
    if (orgAgain && !stageSide(*p, false, orgStamp, error)) return false;
    if (!stagedInc.empty() && !stageSide(*p, true, incStamp, error)) return false;
    if (!stagedOrg.empty() && !writeNewFile(stagedOrg + "/" + aclSwitchFile(p->kind), kSwitchOn)) {
      error = "cannot write the protection switch in " + stagedOrg;
      return false;
    }
  }
  if ((!stagedOrg.empty() && !writeNewFile(stagedOrg + "/" + kAclStampFile, orgStamp)) ||
      (!stagedInc.empty() && !writeNewFile(stagedInc + "/" + kAclStampFile, incStamp))) {
    error = "cannot write the stamp of the new build";
    return false;
  }
  if (stagedOrg.empty()) m_keptOrgStamp = orgStamp;
  return true;
}

bool CompanionBuild::install(std::string& error) {
  while (!m_staged.empty()) {
    if (!switchDirectory(m_staged.front().dir, m_staged.front().target, error)) return false;
    m_staged.erase(m_staged.begin());
  }
  if (m_keptOrgStamp.empty()) return true;
  // The kept org part takes the stamp of its new companions only now, and
  // is marked protected last: until then its old rules (or none) hold.
  if (!replaceFileAtomically(m_home + "/" + kAclStampFile, m_keptOrgStamp, kIndexFileMode)) {
    error = "cannot write the stamp in " + m_home;
    return false;
  }
  for (const auto& p : m_protections) {
    if (!replaceFileAtomically(m_home + "/" + aclSwitchFile(p->kind), kSwitchOn, kIndexFileMode)) {
      error = "cannot write the protection switch in " + m_home;
      return false;
    }
  }
  return true;
}

}  // namespace vela
