/// @file layout.cc
/// @brief Installation settings, ports, language and the homes of owners and
/// indexes.

#include "system/layout.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "system/config.h"
#include "system/fsutil.h"
#include "system/index_format.h"
#include "system/kept_files.h"
#include "system/lines.h"
#include "system/numbers.h"

namespace {

constexpr char kSystemInfo[] = "../setting/system_info.cfg";
// system_info.cfg is read with its own shorter line limit.
constexpr size_t kSystemInfoLineMax = 1022;
constexpr size_t kPathMax = 1023;
constexpr int kDefaultQueryServerPort = 20001;
constexpr int kDefaultLoginTimeout = 3600;
constexpr int kMaxLoginTimeout = 2592000;

struct Caches {
  int language = kLangUnknown;
  int interfacePort = -1;
  std::optional<std::string> hostAddress, systemHome, installDirectory, domainName, httpPort,
      adDomain;
};

Caches& caches() {
  static Caches c;
  return c;
}

// A value of system_info.cfg, cut to maxChars, cached in slot once found.
const char* cachedSystemInfo(std::optional<std::string>& slot, const char* key, size_t maxChars) {
  if (!slot) {
    std::string value;
    if (!findCfgValue(kSystemInfo, key, kSystemInfoLineMax, value) || value.empty()) {
      return nullptr;
    }
    value.resize(std::min(value.size(), maxChars));
    slot = value;
  }
  return slot->c_str();
}

// The number on the first line of a one-value file.
bool readFirstNumber(const char* path, int& value) {
  std::string line;
  if (!readFirstLine(path, 1023, line)) return false;
  value = parseAtoi(line);
  return true;
}

int firstNumberOr(const char* path, int fallback) {
  int value;
  return readFirstNumber(path, value) ? value : fallback;
}

struct NameCode {
  const char* name;
  int code;
};

int lookupCode(const NameCode* table, size_t n, const std::string& name) {
  for (size_t i = 0; i < n; ++i) {
    if (name == table[i].name) return table[i].code;
  }
  return kLangUnknown;
}

}  // namespace

std::string installationFile(const std::string& root, const char* name) {
  std::string path = root + "/" + name;
  // Looked at as the kept settings are: the read that follows finds the
  // file looked at already.
  if (!keptFileText(path) && errno == ENOENT) path = root + "/setting/" + name;
  return path;
}

int systemGetLanguage() {
  Caches& c = caches();
  if (c.language != kLangUnknown) return c.language;
  static const NameCode kCodes[] = {
      {"CH", kLangCH}, {"JP", kLangJP}, {"GB", kLangGB}, {"EN", kLangEN}};
  std::string line;
  if (readFirstLine(installationFile("..", "lang.cfg").c_str(), 14, line))
    c.language = lookupCode(kCodes, 4, line);
  return c.language;
}

int systemGetDSCLanguage() {
  static const NameCode kCodes[] = {
      {"Big5", kLangCH}, {"SJIS", kLangJP}, {"Shift_JIS", kLangJP}, {"GB2312", kLangGB}};
  std::string line;
  if (!readFirstLine("lang.txt", 1023, line)) return kLangUnknown;
  return lookupCode(kCodes, 4, line);
}

int systemGetInterfacePort() {
  Caches& c = caches();
  if (c.interfacePort >= 1) return c.interfacePort;
  int port;
  if (readFirstNumber("../setting/db_interface.num", port) && port >= 1) c.interfacePort = port;
  return c.interfacePort;
}

int systemGetTSServerListenPort() {
  return firstNumberOr("../ts_listen_port.num", -1);
}

int systemGetServerMonitorPort() {
  return firstNumberOr("../setting/server_monitor_port.num", -1);
}

int systemGetQueryServerPort() {
  return firstNumberOr("../setting/ts_query_server_port.cfg", kDefaultQueryServerPort);
}

const char* systemGetIPAddress() {
  std::optional<std::string>& slot = caches().hostAddress;
  if (!slot) {
    std::string line;
    if (!readFirstLine(installationFile("..", "host_address").c_str(), 23, line) || line.empty())
      return "127.0.0.1";
    slot = line;
  }
  return slot->c_str();
}

const char* systemGetSystemHome() {
  return cachedSystemInfo(caches().systemHome, "SYSTEM_DIRECTORY", kPathMax);
}

const char* systemGetDomainName() {
  return cachedSystemInfo(caches().domainName, "DOMAIN_NAME", kPathMax);
}

const char* systemGetHTTPPort() {
  return cachedSystemInfo(caches().httpPort, "HTTP_PORT", 7);
}

const char* systemGetInstallDirectory() {
  std::optional<std::string>& slot = caches().installDirectory;
  if (!slot) {
    std::string dir;
    findCfgValue(kSystemInfo, "INSTALL_DIRECTORY", kSystemInfoLineMax, dir);
    dir.resize(std::min(dir.size(), kPathMax));
    if (dir.empty()) {
      dir = parentOfWorkingDirectory();
      if (!dir.empty()) setCfgFileTokenValue(kSystemInfo, "INSTALL_DIRECTORY", dir.c_str());
    }
    slot = dir;
  }
  return slot->c_str();
}

int systemGetUserLoginTimeOut() {
  const int seconds =
      parseAtoi(getCfgFileTokenValue("../setting/user_config.cfg", "LOGIN_TIMEOUT"));
  if (seconds <= 0) return kDefaultLoginTimeout;
  return std::min(seconds, kMaxLoginTimeout);
}

bool systemIsEnabledLDAP() {
  std::string line;
  return readFirstLine("../setting/ldap.sch", 1023, line) && line.compare(0, 6, "enable") == 0;
}

std::string adDomainGet() {
  std::optional<std::string>& slot = caches().adDomain;
  if (!slot) {
    std::string line;
    if (!readFirstLine("../setting/ADDomain.cfg", 254, line)) return "";
    slot = line;
  }
  return *slot;
}

std::string systemGetOwnerHome(const char* owner) {
  const char* home = systemGetSystemHome();
  if (home == nullptr || owner == nullptr) return "";
  std::string out(home);
  if (owner[0] == '/' || owner[0] == '\\') return out.append("/group").append(owner);
  const char* domain = systemGetDomainName();
  return out.append("/group/").append(domain ? domain : "").append("/User/").append(owner);
}

std::string systemGetIndexHome(const char* owner, const char* index) {
  std::string home = systemGetOwnerHome(owner);
  if (home.empty()) return home;
  return home.append("/index/").append(index ? index : "");
}

std::string systemGetIncIndexHome(const char* owner, const char* index) {
  std::string home = systemGetIndexHome(owner, index);
  return home.empty() ? home : incPartOf(home);
}

std::string systemGetNotesServerFile(const char* name) {
  const char* home = systemGetSystemHome();
  if (home == nullptr) return "";
  std::string out = std::string(home) + "/notes";
  if (name != nullptr) out.append("/").append(name);
  return out;
}

std::string systemGetSystemQueryLogHome() {
  std::string dir = getCfgFileTokenValue(kSystemInfo, "SYSTEM_QUERY_LOG_DIRECTORY");
  if (dir.empty()) return "../system_log/query";
  makeDirectory(dir.c_str());
  return dir;
}

std::string systemGetSystemQueryLogFile(const char* name) {
  return systemGetSystemQueryLogHome() + "/" + (name ? name : "");
}

namespace {

// Index types and the icon file of each, found under /search/icon/ and
// /admin/icon/.
struct TypeIcon {
  const char* type;
  const char* searchIcon;
  const char* adminIcon;
};

constexpr TypeIcon kTypeIcons[] = {
    {"doc", "/search/icon/index_doc.gif", "/admin/icon/index_doc.gif"},
    {"proxy", "/search/icon/index_web.gif", "/admin/icon/index_web.gif"},
    {"db", "/search/icon/index_db.gif", "/admin/icon/index_db.gif"},
    {"notes", "/search/icon/index_notes.gif", "/admin/icon/index_notes.gif"},
    {"exchange", "/search/icon/index_exchange.gif", "/admin/icon/index_exchange.gif"},
};

const TypeIcon* findTypeIcon(const char* type) {
  if (type == nullptr) return nullptr;
  for (const TypeIcon& icon : kTypeIcons) {
    if (strcmp(type, icon.type) == 0) return &icon;
  }
  return nullptr;
}

}  // namespace

const char* indexGetSearchImageFile(const char* type) {
  const TypeIcon* icon = findTypeIcon(type);
  return icon ? icon->searchIcon : "";
}

const char* indexGetImageFile(const char* type) {
  const TypeIcon* icon = findTypeIcon(type);
  return icon ? icon->adminIcon : "";
}

const char* usrGetPrivilegeImageFile(const char* kind) {
  static const struct {
    const char* kind;
    const char* icon;
  } kIcons[] = {{"manager", "/admin/icon/manager.gif"},
                {"member", "/admin/icon/member.gif"},
                {"user", "/admin/icon/user.gif"}};
  if (kind == nullptr) return "";
  for (const auto& icon : kIcons) {
    if (strcasecmp(kind, icon.kind) == 0) return icon.icon;
  }
  return "";
}

void systemResetCaches() {
  caches() = Caches();
}
