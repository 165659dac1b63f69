/// @file older_settings.cc
/// @brief The threaded editions' installation settings and message texts.

#include <cstring>
#include <sstream>
#include <string>

#include "front/older_front.h"
#include "front/older_front_parts.h"
#include "system/numbers.h"
#include "system/secure_file.h"
#include "system/strings.h"

msgTableTag msg_table;
iniOptionTag ini_option;

void resetOlderSettings() {
  msg_table = msgTableTag();
  ini_option = iniOptionTag();
}

namespace olderfront {

namespace {
constexpr size_t kSettingFileBytes = 1 << 20;
}  // namespace

bool readSmallFile(const std::string& path, std::string& text) {
  return readRegularFile(path, text, kSettingFileBytes);
}

std::string cut(std::string text, size_t capacity) {
  if (text.size() >= capacity) text.resize(capacity - 1);
  return text;
}

}  // namespace olderfront

namespace {

using olderfront::cut;
using olderfront::kLanguageGB;
using olderfront::kLanguageJP;
using olderfront::readSmallFile;

constexpr size_t kLineChars = 2047;

std::string firstWord(const std::string& text) {
  std::istringstream in(text);
  std::string word;
  in >> word;
  return word;
}

std::string firstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Calls `each` with every line of `text` (line breaks removed, cut to
// kLineChars characters).
template <typename Each>
void forEachLine(const std::string& text, Each each) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kLineChars) line.resize(kLineChars);
    each(line);
  }
}

// Index of a message code in the table: 0001-0035 first, then 1001-1077.
int messageSlot(const char* code) {
  int64_t n = 0;
  if (code == nullptr || std::strlen(code) != 4 || !parseDecimal(code, 0, 9999, n)) return -1;
  if (n >= 1 && n <= 35) return static_cast<int>(n - 1);
  if (n >= 1001 && n <= 1077) return static_cast<int>(35 + n - 1001);
  return -1;
}

std::string slotKey(int slot) {
  char key[16];
  std::snprintf(key, sizeof key, "VALUE_%04d", slot < 35 ? slot + 1 : slot - 35 + 1001);
  return key;
}

}  // namespace

int verifyLanguage(const char* path) {
  std::string text;
  if (!readSmallFile(path, text)) return -1;
  const std::string word = firstWord(text);
  if (word == "SJIS") return kLanguageJP;
  if (word == "GB2312") return kLanguageGB;
  return 0;
}

bool msgTableTag::initialize(const char* name) {
  std::string text;
  if (!readSmallFile(std::string("ts_msg_table_") + name + ".cfg", text)) return false;
  readText(text);
  return true;
}

void msgTableTag::readText(const std::string& text) {
  forEachLine(text, [this](const std::string& line) {
    for (int slot = 0; slot < kCount; ++slot) {
      const std::string key = slotKey(slot);
      if (line.compare(0, key.size(), key) != 0) continue;
      const size_t start = line.find_first_not_of(" \t", key.size());
      m_values[slot] = start == std::string::npos ? "" : line.substr(start);
      return;
    }
  });
}

const std::string& msgTableTag::value(const char* code) const {
  static const std::string empty;
  const int slot = messageSlot(code);
  return slot < 0 ? empty : m_values[slot];
}

void iniOptionTag::readOptionText(const std::string& text) {
  forEachLine(text, [this](std::string line) {
    const size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    line.erase(line.find_last_not_of(" \t") + 1);
    const size_t keyEnd = line.find_first_of(" \t");
    if (keyEnd == std::string::npos) return;
    const std::string key = line.substr(0, keyEnd);
    const int value = parseAtoi(line.c_str() + line.find_first_not_of(" \t", keyEnd));
    if (key == "GET_SORT_CONTENT_TIME") get_sort_content_time = value;
    if (key == "GET_REL_TERM_TIME") get_rel_term_time = value;
    if (key == "MAX_SELECTED_SEARCH_INDEX") max_selected_search_index = value;
    if (key == "MAX_RELTERM_COUNT") max_relterm_count = value;
  });
}

const char* iniOptionTag::initialize(const std::string& dir) {
  std::string text;
  if (!readSmallFile(dir + "/ts_ini_option.cfg", text)) return "0001";
  readOptionText(text);
  std::string parent = dir;
  while (parent.size() > 1 && parent.back() == '/')
    parent.pop_back();
  parent.erase(parent.rfind('/') == std::string::npos ? 0 : parent.rfind('/'));
  tmpParentPath = cut(parent, 2049);
  ts2000_root = cut(parent + "/", 2049);
  privilege_server_ip = "127.0.0.1";
  std::string interfacePort, address, queryPort, domain;
  if (!readSmallFile(dir + "/db_interface.num", interfacePort) ||
      !readSmallFile(dir + "/host_address", address) ||
      !readSmallFile(dir + "/ts_query_server_port.cfg", queryPort) ||
      !readSmallFile(dir + "/../system/group/DomainName.txt", domain))
    return "0001";
  privilege_server_port = parseAtoi(firstWord(interfacePort));
  query_server_ip = cut(firstWord(address), 17);
  query_server_port = parseAtoi(firstWord(queryPort));
  domain_name = cut(firstLine(domain), 513);
  const bool anyMissing =
      ts2000_root.empty() || privilege_server_ip.empty() || privilege_server_port == 0 ||
      query_server_ip.empty() || query_server_port == 0 || domain_name.empty() ||
      get_sort_content_time == 0 || get_rel_term_time == 0 || max_selected_search_index == 0;
  return anyMissing ? "0003" : nullptr;
}
