/// @file ntfs_filter.cc
/// @brief Loading the ids a user may see from an ACL companion, and
/// filtering hits with them.

#include "access/ntfs_filter.h"

#include <strings.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>
#include <new>

#include "system/index_format.h"
#include "system/layout.h"
#include "system/secure_file.h"
#include "system/tmpfile.h"

namespace {

// The engine of every index search; the companions are indexes like others.
constexpr const char* kAclSearchProgram = "../binind/vela25_0.exe";
constexpr size_t kAclBlockBytes = kAclBlockIds / 8;
// Largest companion result read: more than the ids of any index take.
constexpr size_t kMaxAclResultBytes = 256u << 20;
constexpr size_t kMaxStampBytes = 64;

std::string overflowKey(uint64_t id) {
  return "_" + std::to_string(id) + "_";
}

bool sameDomain(const char* domain, const std::string& localDomain) {
  return !localDomain.empty() && strcasecmp(domain, localDomain.c_str()) == 0;
}

bool readStamp(const std::string& dir, std::string& stamp) {
  return readRegularFile(dir + "/" + kAclStampFile, stamp, kMaxStampBytes) && !stamp.empty();
}

// The user table of the companion at `aclPath`; false when it cannot be
// read or trusted.
bool readUserTable(const std::string& aclPath, AclKind kind, AclUserTable& table) {
  std::string bytes;
  return readRegularFile(aclPath + "/" + kAclUserTableFile, bytes, kMaxAclUserTableBytes) &&
         parseAclUserTable(bytes, kind, table);
}

}  // namespace

bool isAnonymousAclUser(const char* user) {
  return user != nullptr && (std::strcmp(user, "TESSERA") == 0 || std::strcmp(user, "root") == 0);
}

NTFSSearchResult::NTFSSearchResult(AclEngine* engine) : m_engine(engine) {}

void NTFSSearchResult::log(const char* format, ...) const {
  if (m_log == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(m_log, format, args);
  va_end(args);
  std::fflush(m_log);
}

void NTFSSearchResult::setSearchResult(uint32_t id) {
  if (id >= kAclBitmapIds) {
    m_overflow += overflowKey(id);
    return;
  }
  std::unique_ptr<unsigned char[]>& block = m_blocks[id / kAclBlockIds];
  if (!block) block.reset(new unsigned char[kAclBlockBytes]());
  const uint32_t bit = id % kAclBlockIds;
  block[bit / 8] = static_cast<unsigned char>(block[bit / 8] | (1u << (bit % 8)));
}

bool NTFSSearchResult::isInSearchResult(int64_t id) const {
  if (id < 0) return false;
  if (id >= kAclBitmapIds)
    return m_overflow.find(overflowKey(static_cast<uint64_t>(id))) != std::string::npos;
  const std::unique_ptr<unsigned char[]>& block = m_blocks[id / kAclBlockIds];
  const auto bit = static_cast<uint32_t>(id % kAclBlockIds);
  return block && ((block[bit / 8] >> (bit % 8)) & 1u);
}

void NTFSSearchResult::clearSearchResult() {
  for (auto& block : m_blocks)
    if (block) std::memset(block.get(), 0, kAclBlockBytes);
}

void NTFSSearchResult::freeSearchResult() {
  for (auto& block : m_blocks)
    block.reset();
}

void NTFSSearchResult::dumpIds() const {
  // Without a run log the ids go nowhere: standard output carries the page.
  if (m_log == nullptr) return;
  std::fputs("NTFS:outputSearchResult: ", m_log);
  for (uint32_t b = 0; b < kAclBlockCount; ++b) {
    if (!m_blocks[b]) continue;
    for (uint32_t bit = 0; bit < kAclBlockIds; ++bit)
      if ((m_blocks[b][bit / 8] >> (bit % 8)) & 1u)
        std::fprintf(m_log, "%u, ", b * kAclBlockIds + bit);
  }
  std::fputs("\n", m_log);
  std::fflush(m_log);
}

int NTFSSearchResult::parserVelaBinOutFilename(const std::string& path) {
  UniqueFd fd = openRegularFile(path);
  if (!fd) {
    log("NTFS:Open binout filename failure : %s\n", path.c_str());
    return 0;
  }
  std::string bytes;
  try {
    if (!readAll(fd.get(), bytes, kMaxAclResultBytes)) {
      log("NTFS:fread content's size = 0\n");
      return 0;
    }
  } catch (const std::bad_alloc&) {
    log("NTFS:allocate memory failure\n");
    return 0;
  }
  if (bytes.empty()) {
    log("NTFS:binout filesize = 0\n");
    return 0;
  }
  int count = 0;
  std::vector<uint32_t> ids;
  const int rc = m_engine ? m_engine->readHits(bytes, count, ids) : kAclReadFormat;
  if (rc == kAclReadNoMemory) {
    log("NTFS:allocate memory failure\n");
    return 0;
  }
  if (rc != kAclReadOk) {
    log("NTFS:binout file format error\n");
    return 0;
  }
  clearSearchResult();
  // The overflow of an earlier load must not grant ids to this one.
  m_overflow.clear();
  for (uint32_t id : ids)
    setSearchResult(id);
  log("NTFS:search result count =%d\n", count);
  dumpIds();
  return count;
}

bool NTFSSearchResult::useCompanion(const char* owner, const char* index, bool inc, AclKind kind) {
  const std::string org = index ? index : "";
  const std::string name = inc ? incPartOf(org) : org;
  m_path = systemGetIndexHome(owner, (name + aclCompanionSuffix(kind)).c_str());
  if (kind == AclKind::kFile)
    log("NTFS:NTFS Path : %s\n", m_path.c_str());
  else
    log("setACLIndexPath : %s\n", m_path.c_str());
  if (m_path.empty()) return false;
  // Record numbers mean documents only within one build of the index: a
  // companion of another build would hand one document's rights to another.
  std::string indexStamp, companionStamp;
  if (!readStamp(systemGetIndexHome(owner, name.c_str()), indexStamp) ||
      !readStamp(m_path, companionStamp) || indexStamp != companionStamp) {
    log("NTFS:ACL index missing or made for another build of the index : %s\n", m_path.c_str());
    return false;
  }
  return true;
}

bool NTFSSearchResult::searchACLIndex(const char* stem, const std::string& text) {
  std::string resultPath;
  if (!systemGetCGITmpFile(resultPath, stem)) {
    log("NTFS:no result file can be made\n");
    return false;
  }
  const std::string command = std::string(kAclSearchProgram) + " -H \"" + m_path +
                              "\" -binout -o \"" + resultPath + "\" -B0 -bm \"-s -i -F60\" -ns \"" +
                              text + "\" ";
  log("NTFS:Vela Command : %s\n", command.c_str());
  const int rc = m_engine ? m_engine->runCommand(command) : -1;
  log("NTFS:Vela's return code : %d\n", rc);
  // A failed run may have left nothing or anything: its result proves no right.
  const int count = rc == 0 ? parserVelaBinOutFilename(resultPath) : 0;
  unlink(resultPath.c_str());
  if (count <= 0) return false;
  m_init = true;
  return true;
}

bool NTFSSearchResult::initFileACL(const char* owner, const char* index, bool inc,
                                   const char* domain, const char* user,
                                   const std::string& localDomain) {
  m_init = false;
  const bool usable = useCompanion(owner, index, inc, AclKind::kFile);
  log("NTFS:domain : %s\n", domain ? domain : "NULL");
  log("NTFS:user : %s\n", user ? user : "NULL");
  if (!usable) return false;
  uint32_t code = 0;
  if (domain != nullptr && user != nullptr && !isAnonymousAclUser(user)) {
    AclUserTable table;
    if (!readUserTable(m_path, AclKind::kFile, table)) {
      log("NTFS:user table unreadable : %s\n", m_path.c_str());
      return false;
    }
    // A domain nobody signs in with here cannot be vouched for: its users
    // get the rights of everyone.
    if (!sameDomain(domain, localDomain)) {
      log("NTFS:domain is not the local domain : user searched as anyone\n");
    } else if (const auto it = table.find(user); it != table.end()) {
      code = it->second.front();
    }
  }
  const std::string text = fileAclSearchText(code);
  log("NTFS:Search User Code : %s\n", text.c_str());
  return searchACLIndex("ntfs_query", text);
}

bool NTFSSearchResult::initACLBuilder(const char* owner, const char* index, bool inc,
                                      const char* user) {
  m_init = false;
  if (!useCompanion(owner, index, inc, AclKind::kBuilder)) return false;
  // getACLstringEx: the user's own and group codes from the companion.
  if (user == nullptr || *user == '\0') {
    log("NTFS:no user : no ACL string\n");
    return false;
  }
  AclUserTable table;
  if (!readUserTable(m_path, AclKind::kBuilder, table)) {
    log("NTFS:user table unreadable : %s\n", m_path.c_str());
    return false;
  }
  std::vector<uint32_t> codes;
  if (!isAnonymousAclUser(user)) {
    if (const auto it = table.find(user); it != table.end()) codes = it->second;
  }
  return searchACLIndex("acl_query", aclBuilderSearchText(codes));
}

bool NTFSSearchResult::keepHit(int64_t recid) {
  if (!m_init) return false;
  const bool in = isInSearchResult(recid);
  log("NTFS:filter rid:%lld [%s]\n", static_cast<long long>(recid), in ? "TURE" : "FALSE");
  return in;
}

void NTFSSearchResult::logLeft(int32_t count) const {
  log("NTFS:left result count =%d (is_init=%d)\n", count, m_init ? 1 : 0);
}
