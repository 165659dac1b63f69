/// @file layout.h
/// @brief The fixed layout of an installation: settings, ports, language,
/// the system directory and the homes of owners and indexes.
///
/// Every path is relative to the working directory, the CGI directory one
/// level below the installation root. Nothing here reports an error: a
/// missing file or key gives the documented default. A few answers are cached
/// for the rest of the run once they were read successfully (a missing file
/// is looked for again on the next call); `systemResetCaches` forgets them.

#ifndef SEARCHRUN_SYSTEM_LAYOUT_H
#define SEARCHRUN_SYSTEM_LAYOUT_H

#include <string>

#include "system/address.h"

// Language codes of an installation.
enum {
  kLangUnknown = -1,
  kLangCH = 0,  // traditional Chinese, Big5
  kLangJP = 1,  // Japanese, Shift_JIS
  kLangGB = 2,  // simplified Chinese, GBK
  kLangEN = 3,
};

// The path of a file an installation keeps at its top, "lang.cfg" or
// "host_address": ROOT/NAME, or ROOT/setting/NAME when nothing stands at the
// first (a packaged installation keeps every setting in one folder).
std::string installationFile(const std::string& root, const char* name);

// "../lang.cfg" (see installationFile) holding "CH", "JP", "GB" or "EN" (a trailing line break is
// allowed); -1 otherwise. Cached once known.
int systemGetLanguage();
// "lang.txt" in the working directory: "Big5" 0, "SJIS" or "Shift_JIS" 1,
// "GB2312" 2; -1 otherwise or when missing.
int systemGetDSCLanguage();

// Ports read from the first line of their one-value files.
int systemGetInterfacePort();       // "../setting/db_interface.num"; -1 unless >= 1 (cached)
int systemGetTSServerListenPort();  // "../ts_listen_port.num"; -1 when missing
int systemGetServerMonitorPort();   // "../setting/server_monitor_port.num"; -1 when missing
int systemGetQueryServerPort();     // "../setting/ts_query_server_port.cfg"; 20001 when missing

// This host's address: the first line of "../host_address" (at most 23
// characters), "127.0.0.1" when missing. Cached once read. The pointer stays
// valid until systemResetCaches.
const char* systemGetIPAddress();

// Values of "../setting/system_info.cfg", cached once read. NULL when the key
// is missing or empty. The pointers stay valid until systemResetCaches.
const char* systemGetSystemHome();  // SYSTEM_DIRECTORY, at most 1023 characters
const char* systemGetDomainName();  // DOMAIN_NAME, at most 1023 characters
const char* systemGetHTTPPort();    // HTTP_PORT, at most 7 characters
// INSTALL_DIRECTORY. When it is empty, the parent of the working directory is
// taken and written back to the file (other lines stay as they were). Never
// NULL; "" only when the working directory cannot be found.
const char* systemGetInstallDirectory();

// LOGIN_TIMEOUT of "../setting/user_config.cfg" in seconds: 3600 when absent,
// 0 or negative, at most 2592000.
int systemGetUserLoginTimeOut();
// True when the first line of "../setting/ldap.sch" begins with "enable".
bool systemIsEnabledLDAP();
// First line of "../setting/ADDomain.cfg" (at most 254 characters), "" when
// missing. Cached once read.
std::string adDomainGet();

// Owner home under the system directory H: H/group + owner for a group path
// (owner beginning with "/" or "\"), H/group/DOMAIN/User/owner otherwise.
// "" when the system directory is not configured or owner is NULL.
std::string systemGetOwnerHome(const char* owner);
// Owner home + "/index/" + index; "" when the owner home is "".
std::string systemGetIndexHome(const char* owner, const char* index);
// The incremental part: incPartOf(systemGetIndexHome); "" likewise.
std::string systemGetIncIndexHome(const char* owner, const char* index);
// H/notes, or H/notes/name when name is given; "" without H.
std::string systemGetNotesServerFile(const char* name);

// Directory of the daily search logs: SYSTEM_QUERY_LOG_DIRECTORY, created
// when missing, or "../system_log/query" (not created) when not configured.
std::string systemGetSystemQueryLogHome();
// That directory + "/" + name.
std::string systemGetSystemQueryLogFile(const char* name);

// Icon paths by index type ("doc", "proxy", "db", "notes", "exchange") under
// "/search/icon/" and "/admin/icon/", and by privilege ("manager", "member",
// "user", any letter case). "" for anything else.
const char* indexGetSearchImageFile(const char* type);
const char* indexGetImageFile(const char* type);
const char* usrGetPrivilegeImageFile(const char* kind);

// For tests: forgets every cached value.
void systemResetCaches();

#endif  // SEARCHRUN_SYSTEM_LAYOUT_H
