/// @file address.cc
/// @brief Host addresses and index uids.

#include "system/address.h"

#include <cstdio>
#include <cstring>

#include "system/layout.h"
#include "system/numbers.h"
#include "system/strings.h"

namespace {

// The four numbers of a strict dotted address.
bool parseIPv4(const char* text, int (&parts)[4]) {
  if (text == nullptr || text[0] == '.') return false;
  int count = 0;
  const char* group = text;
  for (const char* p = text;; ++p) {
    if (*p != '\0' && *p != '.' && (*p < '0' || *p > '9')) return false;
    if (*p != '.' && *p != '\0') continue;
    int64_t value;
    if (count == 4 || !parseDecimal(std::string_view(group, p - group), 0, 255, value)) {
      return false;
    }
    parts[count++] = static_cast<int>(value);
    if (*p == '\0') break;
    group = p + 1;
  }
  return count == 4;
}

}  // namespace

bool ipv4Value(const char* text, uint32_t& out) {
  int parts[4];
  if (!parseIPv4(text, parts)) return false;
  out = static_cast<uint32_t>(parts[0]) << 24 | static_cast<uint32_t>(parts[1]) << 16 |
        static_cast<uint32_t>(parts[2]) << 8 | static_cast<uint32_t>(parts[3]);
  return true;
}

namespace {

// Decodes the "HHHHHHHH_" host part of a uid. False when uid has none.
bool decodeHostPart(const char* uid, std::string& ip) {
  if (strnlen(uid, 9) < 9 || uid[8] != '_') return false;
  int bytes[4];
  for (int i = 0; i < 4; ++i) {
    const int hi = hexDigitValue(uid[2 * i]);
    const int lo = hexDigitValue(uid[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = hi * 16 + lo;
  }
  char text[16];
  snprintf(text, sizeof text, "%d.%d.%d.%d", bytes[0], bytes[1], bytes[2], bytes[3]);
  ip = text;
  return true;
}

// Address and the text after the host part; returns that text.
const char* splitUid(const char* uid, std::string& ip) {
  if (uid == nullptr) {
    ip = "127.0.0.1";
    return "";
  }
  if (decodeHostPart(uid, ip)) return uid + 9;
  ip = "127.0.0.1";
  return uid;
}

}  // namespace

bool isValidIP(const char* text) {
  int parts[4];
  return parseIPv4(text, parts);
}

bool checkIpAddress(const char* text) {
  if (text == nullptr) return false;
  return strspn(text, "0123456789.") == strlen(text);
}

bool isLocalIPAddress(const char* ip) {
  const char* host = systemGetIPAddress();
  if (strcmp(host, "127.0.0.1") == 0) return true;
  return ip != nullptr && (strcmp(ip, "127.0.0.1") == 0 || strcmp(ip, host) == 0);
}

bool make_index_uid(const char* ip, const char* index, std::string& out) {
  int parts[4] = {127, 0, 0, 1};
  if (!parseIPv4(ip, parts)) {
    parts[0] = 127, parts[1] = 0, parts[2] = 0, parts[3] = 1;
  }
  char host[16];
  snprintf(host, sizeof host, "%02X%02X%02X%02X_", parts[0], parts[1], parts[2], parts[3]);
  out = host;
  out += index ? index : "";
  return true;
}

bool systemDecodeIndexID(const char* uid, std::string& ip, std::string& index, std::string& port) {
  const char* rest = splitUid(uid, ip);
  const char* dollar = strchr(rest, '$');
  if (dollar != nullptr) {
    index.assign(rest, dollar - rest);
    port = dollar + 1;
  } else {
    index = rest;
    port = std::to_string(systemGetQueryServerPort());
  }
  return true;
}

bool systemDecodeIndexID(const char* uid, std::string& ip, std::string& index) {
  const char* rest = splitUid(uid, ip);
  index.assign(rest, strcspn(rest, "$"));
  return true;
}

bool isSafeIndexName(const char* name) {
  if (name == nullptr) return false;
  const size_t len = strnlen(name, kIndexNameMax + 1);
  if (len == 0 || len > kIndexNameMax) return false;
  for (size_t i = 0; i < len; ++i) {
    const char c = name[i];
    const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                    c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool isSafeOwnerName(std::string_view owner) {
  constexpr size_t kMaxOwnerChars = 63;
  if (owner.size() > kMaxOwnerChars) return false;
  const std::string_view name = !owner.empty() && owner[0] == '/' ? owner.substr(1) : owner;
  if (name.empty() || name[0] == '.' || name[0] == '-') return false;
  for (char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '.' || c == '-';
    if (!ok) return false;
  }
  return true;
}
