/// @file class_search.cc
/// @brief The class answer of the server, the class search of a request,
/// the URL of its follow-up pages and its "_class" file.

#include "assemble/class_search.h"

#include <errno.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "system/address.h"
#include "system/delimiters.h"
#include "system/log.h"
#include "system/net_exchange.h"
#include "system/numbers.h"
#include "system/secure_file.h"
#include "system/strings.h"

classSearchTag class_search;

void resetAssembleRunState() {
  class_search.reset();
}

namespace {

constexpr std::string_view kFieldSep(kFieldDelim, kDelimSize);
constexpr std::string_view kRecordEnd(kGroupEndDelim, kDelimSize);
constexpr std::string_view kPartSep(kValueDelim, kDelimSize);
constexpr std::string_view kAnswerEnd(kCommandEndDelim, kDelimSize);

// What the run keeps of a class text and an index's unique id.
constexpr size_t kClassTextMax = 255;
constexpr size_t kUniqueSize = 64;
// Class answers are short lists; a server that sends more is not answering.
constexpr size_t kMaxClassAnswerBytes = 4u << 20;
// Result files are the run's alone.
constexpr mode_t kClassFileMode = 0600;

// The text before the first `delim` (all of it when there is none); the
// rest, past the delimiter, stays in `text`.
std::string_view takeUntil(std::string_view& text, std::string_view delim) {
  const size_t at = text.find(delim);
  const std::string_view head = text.substr(0, at);
  text = at == std::string_view::npos ? std::string_view() : text.substr(at + delim.size());
  return head;
}

bool hasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

// A text that a field of `size` bytes (with its terminator) holds whole and
// that keeps a line of the "_class" file one line.
bool fits(std::string_view text, size_t size) {
  return text.size() < size && !hasControlCharacter(text);
}

// An owner names a directory below the system directory; a ".." part would
// lead out of it.
bool isPlainOwner(std::string_view owner) {
  while (!owner.empty()) {
    const std::string_view part = takeUntil(owner, "/");
    if (part == "..") return false;
  }
  return true;
}

// Each record up to its end mark; a rest without one is no record.
template <typename Take>
void forEachRecord(std::string_view part, Take take) {
  for (size_t at = part.find(kRecordEnd); at != std::string_view::npos;
       at = part.find(kRecordEnd)) {
    take(part.substr(0, at));
    part.remove_prefix(at + kRecordEnd.size());
  }
}

}  // namespace

bool classIndexNode::setCurrectIndex(std::string_view record) {
  record = takeUntil(record, kRecordEnd);
  classIndexTag t;
  t.m_ipAddr = takeUntil(record, kFieldSep);
  t.m_idxOwner = takeUntil(record, kFieldSep);
  t.m_idxDesc = takeUntil(record, kFieldSep);
  t.m_idxName = takeUntil(record, kFieldSep);
  t.m_port = takeUntil(record, kFieldSep);
  t.m_idxType = takeUntil(record, kFieldSep);
  t.m_idxStatus = takeUntil(record, kFieldSep);
  takeUntil(record, kFieldSep);  // not used
  t.m_idxUnique = takeUntil(record, kFieldSep);
  if (!fits(t.m_ipAddr, kIpAddrSize) || !fits(t.m_idxOwner, kOwnerSize) ||
      !isPlainOwner(t.m_idxOwner) || !fits(t.m_idxDesc, kDescSize) ||
      !fits(t.m_idxName, kIdxNameSize) || !isSafeIndexName(t.m_idxName.c_str()) ||
      !fits(t.m_port, kPortSize) || !fits(t.m_idxType, kDbTypeSize) ||
      !fits(t.m_idxUnique, kUniqueSize))
    return false;
  m_index = std::move(t);
  return true;
}

bool classClassNode::setClassInfo(std::string_view record) {
  const size_t at = record.find(kFieldSep);
  if (at == std::string_view::npos) return false;
  const std::string_view name = record.substr(0, at);
  record.remove_prefix(at + kFieldSep.size());
  const std::string_view uid = takeUntil(record, kFieldSep);
  if (name.empty() || uid.empty() || !fits(name, kClassTextMax + 1) ||
      !fits(uid, kClassTextMax + 1))
    return false;
  m_className = name;
  m_classUnique = uid;
  return true;
}

bool classSearchTag::checkIndexStatus(std::string_view record) {
  for (int i = 0; i < 6; ++i) {
    const size_t at = record.find(kFieldSep);
    if (at == std::string_view::npos) return false;
    record.remove_prefix(at + kFieldSep.size());
  }
  int64_t status = 0;
  if (!parseDecimal(record.substr(0, record.find('\x12')), 0, INT32_MAX, status)) return false;
  return status == 0 || status == 1 || status == 3 || status == 1009;
}

void classSearchTag::freeIndexList() {
  m_indexes.clear();
  m_IndexCount = 0;
}

void classSearchTag::freeClassList() {
  m_classes.clear();
}

void classSearchTag::reset() {
  freeIndexList();
  freeClassList();
  m_InitializeFlag = false;
}

int classSearchTag::initialize(std::string_view answer) {
  freeIndexList();
  freeClassList();
  answer = takeUntil(answer, kAnswerEnd);
  const std::string_view indexPart = takeUntil(answer, kPartSep);
  const std::string_view classPart = answer;
  forEachRecord(indexPart, [this](std::string_view record) {
    classIndexNode node;
    if (checkIndexStatus(record) && node.setCurrectIndex(record)) m_indexes.push_back(node);
  });
  forEachRecord(classPart, [this](std::string_view record) {
    classClassNode node;
    if (!node.setClassInfo(record)) return;
    m_classes.insert(m_classes.begin() + std::min<size_t>(m_classes.size(), 1), node);
  });
  m_IndexCount = static_cast<int>(m_indexes.size());
  m_InitializeFlag = true;
  return m_IndexCount;
}

void classSearchTag::updateClassURLString(std::string& url, const char* host) const {
  if (!m_InitializeFlag || m_indexes.empty()) return;
  ReportLog("old_url = %s\n", blankControlCharacters(url).c_str());
  std::string kept;
  std::string_view rest = url;
  while (true) {
    const bool last = rest.find('&') == std::string_view::npos;
    const std::string_view piece = takeUntil(rest, "&");
    if (piece.substr(0, 9) != "index_id=") {
      if (!kept.empty()) kept += '&';
      kept += piece;
    }
    if (last) break;
  }
  ReportLog("new_url = %s\n", blankControlCharacters(kept).c_str());
  for (const classIndexNode& node : m_indexes) {
    std::string uid;
    make_index_uid(host, node.getIndexName().c_str(), uid);
    kept += (kept.empty() ? "index_id=" : "&index_id=") + uid;
  }
  ReportLog("strURL = %s\n", blankControlCharacters(kept).c_str());
  url = std::move(kept);
}

std::string classSearchTag::classInformationText() const {
  std::string text = "==CLASS==\n";
  for (const classClassNode& c : m_classes)
    text += c.getClassName() + "\t" + c.getClassUnique() + "\n";
  text += "==INDEX==\n";
  for (const classIndexNode& n : m_indexes)
    text += n.getIndexIpAddr() + "\t" + n.getIndexOwner() + "\t" + n.getIndexName() + "\t" +
            n.getIndexUnique() + "\n";
  return text;
}

bool classSearchTag::outputClassInformation(const std::string& path) const {
  if (!m_InitializeFlag) return false;
  const std::string text = classInformationText();
  return writeFileExclusive(path, text, kClassFileMode) ||
         (errno == EEXIST && overwriteRegularFile(path, text));
}

bool exchangeClassCommand(const std::string& host, int port, const std::string& command,
                          std::string& answer) {
  NetLimits limits = systemGetNetLimits();
  limits.maxAnswerBytes = std::min(limits.maxAnswerBytes, kMaxClassAnswerBytes);
  return getData(host.c_str(), static_cast<uint16_t>(port), command, answer, limits) == kNetOk;
}

bool isClassNotFoundAnswer(std::string_view answer) {
  constexpr std::string_view kNoSuchClass = "Can't find class";
  return answer.substr(0, kNoSuchClass.size()) == kNoSuchClass;
}
