/// @file msg_table.cc
/// @brief Reading and looking up the message table.

#include "output/msg_table.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "output/builtin_messages.h"
#include "system/kept_files.h"
#include "system/lines.h"
#include "system/secure_file.h"

void KestraneMsgTable::addLines(std::string_view text) {
  std::string line;
  forEachBoundedLine(text, kLineLength, [&](std::string_view piece) {
    line.assign(piece);
    addLine(line);
    return count() < kMaxMessages;
  });
}

bool KestraneMsgTable::initializeBuiltIn() {
  addLines(std::string_view(kBuiltInMessageTable, sizeof kBuiltInMessageTable - 1));
  return true;
}

void KestraneMsgTable::addMissingBuiltIn() {
  KestraneMsgTable defaults;
  if (!defaults.initializeBuiltIn()) return;
  // Every request adds the defaults: one look each, not a pass over the table.
  std::unordered_set<std::string> numbers;
  for (const Entry& entry : m_entries)
    numbers.insert(entry.no);
  for (const Entry& entry : defaults.m_entries) {
    if (numbers.insert(entry.no).second) addMessage(entry.no, entry.text.c_str());
  }
}

bool KestraneMsgTable::initialize(const char* path) {
  if (path == nullptr) return false;
  // The table is read for every request: kept while the file is unchanged.
  if (const auto text = keptFileText(path)) {
    addLines(*text);
    return true;
  }
  if (errno != EFBIG) return false;
  FILE* stream = fopenRegular(path);
  if (stream == nullptr) return false;
  bool ok = initialize(stream);
  std::fclose(stream);
  return ok;
}

bool KestraneMsgTable::initialize(FILE* stream) {
  if (stream == nullptr) return false;
  std::string line;
  // The tail of an overlong line is dropped, never taken for a line of its own.
  while (count() < kMaxMessages && readBoundedLine(stream, kLineLength, line))
    addLine(line);
  return true;
}

void KestraneMsgTable::addLine(std::string& line) {
  // Texts are C strings everywhere downstream: a zero byte ends the line.
  line.resize(std::strlen(line.c_str()));
  const size_t tab = line.find('\t');
  if (tab == std::string::npos) return;
  line[tab] = '\0';
  addMessage(line.c_str(), line.c_str() + tab + 1);
}

bool KestraneMsgTable::addMessage(const char* no, const char* text) {
  if (no == nullptr || text == nullptr || count() >= kMaxMessages) return false;
  Entry entry;
  std::strncpy(entry.no, no, kNumberLength);
  entry.no[kNumberLength] = '\0';
  entry.text = text;
  m_entries.push_back(std::move(entry));
  return true;
}

int KestraneMsgTable::searchMsgTable(const char* no) const {
  if (no == nullptr) return -1;
  for (size_t i = 0; i < m_entries.size(); ++i) {
    if (std::strcmp(m_entries[i].no, no) == 0) return static_cast<int>(i);
  }
  return -1;
}

const char* KestraneMsgTable::getMessage(const char* no, char* out) const {
  if (out == nullptr) return nullptr;
  out[0] = '\0';
  if (no == nullptr || no[0] == '\0') return nullptr;
  int index = searchMsgTable(no);
  if (index < 0) return nullptr;
  const std::string& text = m_entries[static_cast<size_t>(index)].text;
  size_t n = std::min(text.size(), kMessageBufferSize - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
  return out;
}

void KestraneMsgTable::showAllMessage() const {
  for (size_t i = 0; i < m_entries.size(); ++i) {
    std::printf("(%d) MSG_ID=[%s] MSG_CONTENT[%s]<BR>", static_cast<int>(i), m_entries[i].no,
                m_entries[i].text.c_str());
  }
  std::printf("MessageCount : %d<BR>", count());
  std::fflush(stdout);
}
