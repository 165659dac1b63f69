/// @file query_output.cc
/// @brief Writing and reading the query output file, byte for byte.

#include "output/query_output.h"

#include <errno.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>

#include "output/result_files.h"
#include "system/secure_file.h"

namespace {

constexpr int64_t kMaxPosition = std::numeric_limits<int32_t>::max();
// Pairs are encoded and written this many at a time.
constexpr size_t kPairChunk = 512;
constexpr size_t kWriteBufferBytes = 65536;

// Integers are in the host's byte order, as every binary file of the system:
// the renderer built for the same host reads them back.
void putInt32(unsigned char* out, int32_t value) {
  std::memcpy(out, &value, sizeof value);
}

int32_t getInt32(const unsigned char* in) {
  int32_t value;
  std::memcpy(&value, in, sizeof value);
  return value;
}

void putPair(unsigned char* out, const CIndexPairDataStructure& pair) {
  putInt32(out, pair.lngDataPos);
  putInt32(out + 4, pair.lngDataLen);
}

CIndexPairDataStructure getPair(const unsigned char* in) {
  CIndexPairDataStructure pair;
  pair.lngDataPos = getInt32(in);
  pair.lngDataLen = getInt32(in + 4);
  return pair;
}

// Where each field of the header lies.
enum HeaderOffset : size_t {
  kOffMatchCount = 0,
  kOffPhone = 4,
  kOffMean = 8,
  kOffFuzzy = 12,
  kOffH2F = 16,
  kOffOutputMode = 20,
  kOffOutputPerPage = 24,
  kOffMatchMode = 28,
  kOffVelaTime = 32,
  kOffQueryRunTime = 36,
  kOffSortOrder = 40,
  kOffSortField = 48,
  kOffSbfFileName = 304,
  kOffQueryUser = 312,
  kOffIniFileName = 376,
  kOffMainPageUrl = 440,
  kOffMultiDbCount = 568,
  kOffFileNameSearch = 572,
  kOffRelTermOption = 576,
  kOffRecordCount = 580,
  // 584: reserved, always 0
};

struct IntField {
  size_t offset;
  int32_t QueryOutputHeader::*member;
};

constexpr IntField kIntFields[] = {
    {kOffMatchCount, &QueryOutputHeader::iMatchCount},
    {kOffPhone, &QueryOutputHeader::iPhone},
    {kOffMean, &QueryOutputHeader::iMean},
    {kOffFuzzy, &QueryOutputHeader::iFuzzy},
    {kOffH2F, &QueryOutputHeader::iH2F},
    {kOffOutputMode, &QueryOutputHeader::iOutputMode},
    {kOffOutputPerPage, &QueryOutputHeader::iOutputPerPage},
    {kOffMatchMode, &QueryOutputHeader::iMatchMode},
    {kOffVelaTime, &QueryOutputHeader::iVelaTime},
    {kOffQueryRunTime, &QueryOutputHeader::iQueryRunTime},
    {kOffMultiDbCount, &QueryOutputHeader::iMultiDbCount},
    {kOffFileNameSearch, &QueryOutputHeader::iFileNameSearch},
    {kOffRelTermOption, &QueryOutputHeader::iRelTermOption},
    {kOffRecordCount, &QueryOutputHeader::iRecordCount},
};

struct TextField {
  size_t offset;
  char* data;
  size_t size;
};

std::array<TextField, 6> textFields(QueryOutputHeader& h) {
  return {{
      {kOffSortOrder, h.arr_ch_SortOrder, sizeof h.arr_ch_SortOrder},
      {kOffSortField, h.arr_ch_SortField, sizeof h.arr_ch_SortField},
      {kOffSbfFileName, h.arr_ch_SbfFileName, sizeof h.arr_ch_SbfFileName},
      {kOffQueryUser, h.arr_ch_QueryUser, sizeof h.arr_ch_QueryUser},
      {kOffIniFileName, h.arr_ch_IniFileName, sizeof h.arr_ch_IniFileName},
      {kOffMainPageUrl, h.arr_ch_MailPageUrl, sizeof h.arr_ch_MailPageUrl},
  }};
}

// Copies text up to its first NUL, at most size - 1 bytes, and zero-fills
// the rest of the field.
template <size_t N>
void copyCut(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  if (text) std::memcpy(field, text, strnlen(text, N - 1));
}

// Stores text only when it fits whole with its terminator.
template <size_t N>
bool copyWhole(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  if (text.size() >= N || text.find('\0') != std::string::npos) return false;
  std::memcpy(field, text.data(), text.size());
  return true;
}

template <size_t N>
std::string fieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N - 1));
}

}  // namespace

void encodeQueryOutputHeader(const QueryOutputHeader& header, unsigned char* out) {
  std::memset(out, 0, CQueryOutput::kHeaderBytes);
  for (const IntField& f : kIntFields)
    putInt32(out + f.offset, header.*f.member);
  QueryOutputHeader copy = header;
  for (const TextField& f : textFields(copy)) {
    // A field is always terminated within its size, whatever it held.
    std::memcpy(out + f.offset, f.data, strnlen(f.data, f.size - 1));
  }
}

QueryOutputHeader decodeQueryOutputHeader(const unsigned char* in) {
  QueryOutputHeader header;
  for (const IntField& f : kIntFields)
    header.*f.member = getInt32(in + f.offset);
  for (const TextField& f : textFields(header))
    std::memcpy(f.data, in + f.offset, f.size);
  return header;
}

CQueryOutput::CQueryOutput() = default;

CQueryOutput::~CQueryOutput() {
  closeFile();
}

void CQueryOutput::closeFile() {
  if (m_pfileOutputFile) std::fclose(m_pfileOutputFile);
  m_pfileOutputFile = nullptr;
  m_stage = Stage::Closed;
  m_pCIndexPairMultiDb.clear();
  m_pCIndexPairMultiDb.shrink_to_fit();
  m_pCIndexPairRecData.clear();
  m_pCIndexPairRecData.shrink_to_fit();
}

bool CQueryOutput::fail() {
  m_failed = true;
  return false;
}

// ---------------------------------------------------------------- writer

bool CQueryOutput::writeBytes(const void* data, size_t size) {
  if (m_failed) return false;
  if (static_cast<int64_t>(size) > kMaxPosition - m_position) return fail();
  if (size != 0 && std::fwrite(data, 1, size, m_pfileOutputFile) != size) return fail();
  m_position += static_cast<int64_t>(size);
  return true;
}

bool CQueryOutput::writePairs(const std::vector<CIndexPairDataStructure>& pairs, size_t count) {
  unsigned char chunk[kPairChunk * kPairBytes];
  for (size_t done = 0; done < count;) {
    const size_t n = std::min(kPairChunk, count - done);
    for (size_t k = 0; k < n; ++k)
      putPair(chunk + k * kPairBytes, pairs[done + k]);
    if (!writeBytes(chunk, n * kPairBytes)) return false;
    done += n;
  }
  return !m_failed;
}

bool CQueryOutput::WriteOutputFile(const std::string& path) {
  closeFile();
  // A new file (the fast output), or the base name this run claimed; never a
  // file reached through a link.
  UniqueFd fd = takeClaimedFile(path);
  if (!fd) fd = createExclusive(path, kResultFileMode);
  if (!fd && errno == EEXIST) fd = openRegularForRewrite(path);
  return WriteOutputFile(std::move(fd));
}

bool CQueryOutput::WriteOutputFile(UniqueFd fd) {
  closeFile();
  m_failed = false;
  m_readError = false;
  m_position = 0;
  m_outfile_header_data = QueryOutputHeader();
  std::fill(std::begin(m_arr_lng_outfile_index), std::end(m_arr_lng_outfile_index),
            CIndexPairDataStructure());
  if (!fd) return false;
  m_pfileOutputFile = fdopen(fd.get(), "wb");
  if (!m_pfileOutputFile) return false;
  fd.release();
  if (!m_writeBuffer) m_writeBuffer.reset(new char[kWriteBufferBytes]);
  std::setvbuf(m_pfileOutputFile, m_writeBuffer.get(), _IOFBF, kWriteBufferBytes);
  m_stage = Stage::Opened;
  const std::vector<CIndexPairDataStructure> placeholder(kIndexSlots);
  if (!writePairs(placeholder, kIndexSlots)) {
    closeFile();
    return false;
  }
  return true;
}

void CQueryOutput::SetSortOrder(const char* text) {
  copyCut(m_outfile_header_data.arr_ch_SortOrder, text);
}

void CQueryOutput::SetSortField(const char* text) {
  copyCut(m_outfile_header_data.arr_ch_SortField, text);
}

bool CQueryOutput::SetSBFNumber(const std::string& text) {
  return copyWhole(m_outfile_header_data.arr_ch_SbfFileName, text);
}

bool CQueryOutput::SetQueryUser(const std::string& text) {
  return copyWhole(m_outfile_header_data.arr_ch_QueryUser, text);
}

bool CQueryOutput::SetIniFileName(const std::string& text) {
  return copyWhole(m_outfile_header_data.arr_ch_IniFileName, text);
}

bool CQueryOutput::SetMainPageUrl(const std::string& text) {
  return copyWhole(m_outfile_header_data.arr_ch_MailPageUrl, text);
}

bool CQueryOutput::OutputSetData() {
  if (m_stage != Stage::Opened || m_failed) return false;
  m_arr_lng_outfile_index[HEADER_POS] = {static_cast<int32_t>(m_position), kHeaderBytes};
  m_matchCount = m_outfile_header_data.iMatchCount;
  m_multiDbCount = m_outfile_header_data.iMultiDbCount;
  unsigned char bytes[kHeaderBytes];
  encodeQueryOutputHeader(m_outfile_header_data, bytes);
  if (!writeBytes(bytes, sizeof bytes)) return false;
  m_stage = Stage::HeaderDone;
  return true;
}

bool CQueryOutput::OutputQueryInfo(const std::string& queryUrl, const std::string& queryKeyword,
                                   const std::string& queryTerm, const std::string& indexName,
                                   const std::string& relTerm) {
  if (m_stage != Stage::HeaderDone || m_failed) return false;
  const std::string* texts[] = {&queryUrl, &queryKeyword, &queryTerm, &indexName, &relTerm};
  bool whole = true;
  for (int k = 0; k < 5; ++k) {
    const int slot = QUERY_URL_POS + k;
    const std::string& text = *texts[k];
    const bool refused = slot != QUERY_URL_POS && text.size() >= static_cast<size_t>(BUFFER_SIZE);
    const size_t length = refused ? 0 : text.size();
    whole = whole && !refused;
    if (static_cast<int64_t>(length) > kMaxPosition - m_position) return fail();
    m_arr_lng_outfile_index[slot] = {static_cast<int32_t>(m_position),
                                     static_cast<int32_t>(length)};
    if (!writeBytes(text.data(), length)) return false;
  }
  m_stage = Stage::TextsDone;
  return whole;
}

bool CQueryOutput::startPairTable(int slot, int32_t count,
                                  std::vector<CIndexPairDataStructure>& table, Stage next) {
  if (count < 0) return fail();
  if (static_cast<int64_t>(count) * kPairBytes > kMaxPosition - m_position) return fail();
  try {
    table.assign(static_cast<size_t>(count), CIndexPairDataStructure());
  } catch (const std::bad_alloc&) {
    return fail();
  }
  m_arr_lng_outfile_index[slot] = {static_cast<int32_t>(m_position), 0};
  if (!writePairs(table, table.size())) return false;
  m_stage = next;
  return true;
}

bool CQueryOutput::OutputMultiDbInfo() {
  if (m_stage != Stage::TextsDone || m_failed) return false;
  return startPairTable(MULTI_DB_POS, m_multiDbCount, m_pCIndexPairMultiDb, Stage::MultiDb);
}

bool CQueryOutput::OutputRecordDataInfo() {
  if (m_stage != Stage::MultiDb || m_failed) return false;
  return startPairTable(RECORD_DATA_POS, m_matchCount, m_pCIndexPairRecData, Stage::Records);
}

bool CQueryOutput::writeItem(std::vector<CIndexPairDataStructure>& table, int i,
                             const std::string& text, Stage stage) {
  if (m_stage != stage || m_failed) return false;
  if (i < 0 || static_cast<size_t>(i) >= table.size()) return false;
  if (text.size() >= static_cast<size_t>(BUFFER_SIZE)) return false;
  const CIndexPairDataStructure pair{static_cast<int32_t>(m_position),
                                     static_cast<int32_t>(text.size())};
  if (!writeBytes(text.data(), text.size())) return false;
  table[static_cast<size_t>(i)] = pair;
  return true;
}

bool CQueryOutput::OutputMultiDbURL(int i, const std::string& text) {
  return writeItem(m_pCIndexPairMultiDb, i, text, Stage::MultiDb);
}

bool CQueryOutput::OutputRecordData(int i, const std::string& text) {
  return writeItem(m_pCIndexPairRecData, i, text, Stage::Records);
}

bool CQueryOutput::rewriteAt(int64_t pos, const std::vector<CIndexPairDataStructure>& pairs,
                             size_t count) {
  if (fseeko(m_pfileOutputFile, static_cast<off_t>(pos), SEEK_SET) != 0) return fail();
  // The rewrite goes over bytes already counted; keep the running position
  // from growing past the real end of the file.
  const int64_t end = m_position;
  m_position = pos;
  const bool ok = writePairs(pairs, count);
  m_position = end;
  return ok;
}

bool CQueryOutput::CloseOutputFile() {
  if (!m_pfileOutputFile) return false;
  if (m_stage == Stage::Reading) {
    closeFile();
    return true;
  }
  bool ok = !m_failed;
  if (ok) {
    const std::vector<CIndexPairDataStructure> index(std::begin(m_arr_lng_outfile_index),
                                                     std::end(m_arr_lng_outfile_index));
    ok = rewriteAt(0, index, index.size());
    if (ok && (m_stage == Stage::MultiDb || m_stage == Stage::Records)) {
      ok = rewriteAt(m_arr_lng_outfile_index[MULTI_DB_POS].lngDataPos, m_pCIndexPairMultiDb,
                     m_pCIndexPairMultiDb.size());
    }
    if (ok && m_stage == Stage::Records) {
      ok = rewriteAt(m_arr_lng_outfile_index[RECORD_DATA_POS].lngDataPos, m_pCIndexPairRecData,
                     m_pCIndexPairRecData.size());
    }
  }
  const bool closed = std::fclose(m_pfileOutputFile) == 0;
  m_pfileOutputFile = nullptr;
  closeFile();
  return ok && closed;
}

// ---------------------------------------------------------------- reader

bool CQueryOutput::ReadOutputFile(const std::string& path) {
  UniqueFd fd = openRegularFile(path);
  return fd && ReadOutputFile(std::move(fd));
}

bool CQueryOutput::ReadOutputFile(UniqueFd fd) {
  closeFile();
  m_failed = false;
  m_readError = false;
  m_outfile_header_data = QueryOutputHeader();
  std::fill(std::begin(m_arr_lng_outfile_index), std::end(m_arr_lng_outfile_index),
            CIndexPairDataStructure());
  if (!fd) return false;
  m_pfileOutputFile = fdopen(fd.get(), "rb");
  if (!m_pfileOutputFile) return false;
  fd.release();
  for (Window& w : m_windows)
    w.pos = -1;

  unsigned char index[kIndexBytes];
  if (!readAt(0, reinterpret_cast<char*>(index), sizeof index)) {
    closeFile();
    return false;
  }
  for (int slot = 0; slot < kIndexSlots; ++slot) {
    m_arr_lng_outfile_index[slot] = getPair(index + slot * kPairBytes);
  }
  const int32_t headerPos = m_arr_lng_outfile_index[HEADER_POS].lngDataPos;
  unsigned char header[kHeaderBytes];
  if (headerPos < 0 || !readAt(headerPos, reinterpret_cast<char*>(header), sizeof header)) {
    closeFile();
    return false;
  }
  m_outfile_header_data = decodeQueryOutputHeader(header);
  m_stage = Stage::Reading;
  return true;
}

std::string CQueryOutput::GetSortField() const {
  return fieldText(m_outfile_header_data.arr_ch_SortField);
}
std::string CQueryOutput::GetSortOrder() const {
  return fieldText(m_outfile_header_data.arr_ch_SortOrder);
}
std::string CQueryOutput::GetSBFNumber() const {
  return fieldText(m_outfile_header_data.arr_ch_SbfFileName);
}
std::string CQueryOutput::GetQueryUser() const {
  return fieldText(m_outfile_header_data.arr_ch_QueryUser);
}
std::string CQueryOutput::GetIniFileName() const {
  return fieldText(m_outfile_header_data.arr_ch_IniFileName);
}
std::string CQueryOutput::GetMainPageUrl() const {
  return fieldText(m_outfile_header_data.arr_ch_MailPageUrl);
}

std::string CQueryOutput::readItem(int64_t pos, int64_t len, bool cutLongItem) {
  if (m_stage != Stage::Reading || pos < 0 || len < 0) {
    m_readError = true;
    return std::string();
  }
  if (len >= BUFFER_SIZE) {
    if (!cutLongItem) {
      m_readError = true;
      return std::string();
    }
    len = BUFFER_SIZE - 1;
  }
  std::string text(static_cast<size_t>(len), '\0');
  if (!readAt(pos, text.data(), text.size())) {
    m_readError = true;
    return std::string();
  }
  return text;
}

bool CQueryOutput::readAt(int64_t pos, char* out, size_t n) {
  constexpr size_t kWindowBytes = 16 * 1024;
  if (pos < 0 || !m_pfileOutputFile) return false;
  const auto holds = [&](const Window& w) {
    return w.pos >= 0 && pos >= w.pos && static_cast<uint64_t>(pos - w.pos) + n <= w.size;
  };
  Window* window = nullptr;
  for (Window& w : m_windows)
    if (holds(w)) window = &w;
  if (window == nullptr) {
    window = &m_windows[0];
    for (Window& w : m_windows)
      if (w.used < window->used) window = &w;
    // Not cleared first: only what the read brings in is ever looked at,
    // and a page nothing is read into is never touched.
    const size_t want = std::max(n, kWindowBytes);
    if (window->capacity < want) {
      window->bytes.reset(new char[want]);
      window->capacity = want;
    }
    size_t got = 0;
    while (got < want) {
      const ssize_t r = pread(fileno(m_pfileOutputFile), window->bytes.get() + got, want - got,
                              static_cast<off_t>(pos) + got);
      if (r > 0) {
        got += static_cast<size_t>(r);
      } else if (r == 0 || errno != EINTR) {
        break;
      }
    }
    window->size = got;
    window->pos = pos;
    if (!holds(*window)) {
      window->pos = -1;
      return false;
    }
  }
  window->used = ++m_windowUses;
  std::memcpy(out, window->bytes.get() + (pos - window->pos), n);
  return true;
}

std::string CQueryOutput::readSlot(int slot, bool cutLongItem) {
  const CIndexPairDataStructure& pair = m_arr_lng_outfile_index[slot];
  return readItem(pair.lngDataPos, pair.lngDataLen, cutLongItem);
}

std::string CQueryOutput::GetQueryURL() {
  return readSlot(QUERY_URL_POS, true);
}
std::string CQueryOutput::GetQueryKeyword() {
  return readSlot(QUERY_KEYWORD_POS, false);
}
std::string CQueryOutput::GetQueryTerm() {
  return readSlot(QUERY_TERM_POS, false);
}
std::string CQueryOutput::GetQueryIndexName() {
  return readSlot(INDEX_NAME_POS, false);
}
std::string CQueryOutput::GetRelTerm() {
  return readSlot(REL_TERM_POS, false);
}

std::string CQueryOutput::readTableItem(int slot, int32_t count, int i) {
  if (i < 0 || i >= count) return std::string();
  const int64_t tablePos = m_arr_lng_outfile_index[slot].lngDataPos;
  unsigned char bytes[kPairBytes];
  if (m_stage != Stage::Reading || tablePos < 0 ||
      !readAt(tablePos + int64_t{kPairBytes} * i, reinterpret_cast<char*>(bytes), sizeof bytes)) {
    m_readError = true;
    return std::string();
  }
  const CIndexPairDataStructure pair = getPair(bytes);
  return readItem(pair.lngDataPos, pair.lngDataLen, false);
}

std::string CQueryOutput::GetMultiDbURL(int i) {
  return readTableItem(MULTI_DB_POS, m_outfile_header_data.iMultiDbCount, i);
}

std::string CQueryOutput::GetRecordData(int i) {
  return readTableItem(RECORD_DATA_POS, m_outfile_header_data.iMatchCount, i);
}
