/// @file query_output.h
/// @brief The query output file: the binary file that carries one search
/// result (settings, query texts, index descriptors, record lines) from the
/// query program to the page renderer. One class writes and reads it.
///
/// Layout (all integers 32-bit signed, in the host's byte order):
///   0    80 bytes  index: 10 pairs {position, length}, slots 0 to 9
///   80   588 bytes header (QueryOutputHeader below)
///   668  the five query texts of slots 1 to 5, back to back, unterminated
///   slot 6 position: iMultiDbCount pairs, then the index descriptors
///   slot 7 position: iMatchCount pairs, then the record lines
/// The index and both pair tables are written as zero placeholders first and
/// rewritten with their final values when the file is closed.

#ifndef SEARCHRUN_OUTPUT_QUERY_OUTPUT_H
#define SEARCHRUN_OUTPUT_QUERY_OUTPUT_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "system/secure_file.h"

// One entry of the index or of a pair table: where an item starts (byte
// offset from the start of the file) and how many bytes it has.
struct CIndexPairDataStructure {
  int32_t lngDataPos = 0;
  int32_t lngDataLen = 0;
};

// Slots of the index.
enum QueryOutputSlot {
  HEADER_POS = 0,
  QUERY_URL_POS = 1,
  QUERY_KEYWORD_POS = 2,
  QUERY_TERM_POS = 3,
  INDEX_NAME_POS = 4,
  REL_TERM_POS = 5,
  MULTI_DB_POS = 6,
  RECORD_DATA_POS = 7,
};

// The 588-byte header, field by field. Text fields are NUL-terminated within
// their size; bytes after the terminator are 0.
struct QueryOutputHeader {
  static constexpr size_t kSortOrderSize = 8;
  static constexpr size_t kSortFieldSize = 256;
  static constexpr size_t kSbfFileNameSize = 8;
  static constexpr size_t kQueryUserSize = 64;
  static constexpr size_t kIniFileNameSize = 64;
  static constexpr size_t kMainPageUrlSize = 128;

  int32_t iMatchCount = 0;     // record lines in the file
  int32_t iPhone = 0;          // the "chinese" switch
  int32_t iMean = 0;           // thesaurus expansion
  int32_t iFuzzy = 0;          // fuzzy matching
  int32_t iH2F = 0;            // half-width to full-width conversion
  int32_t iOutputMode = 0;     // page layout
  int32_t iOutputPerPage = 0;  // records per page
  int32_t iMatchMode = 0;      // how matched text is shown
  int32_t iVelaTime = 0;       // engine time
  int32_t iQueryRunTime = 0;   // run time of the request, ms
  char arr_ch_SortOrder[kSortOrderSize] = {};
  char arr_ch_SortField[kSortFieldSize] = {};
  char arr_ch_SbfFileName[kSbfFileNameSize] = {};
  char arr_ch_QueryUser[kQueryUserSize] = {};
  char arr_ch_IniFileName[kIniFileNameSize] = {};
  char arr_ch_MailPageUrl[kMainPageUrlSize] = {};
  int32_t iMultiDbCount = 0;    // index descriptors
  int32_t iFileNameSearch = 0;  // property search state or option
  int32_t iRelTermOption = 0;   // related terms wanted
  int32_t iRecordCount = 0;     // merged hits (may exceed iMatchCount)
};

// Mode of the files of a result: they hold the hits one user may see.
constexpr unsigned kResultFileMode = 0600;

// Writer and reader of one query output file. Not copyable; the open file is
// closed when the object goes away.
//
// Writing, in this order (a call out of order does nothing and returns false):
//   WriteOutputFile, setters, OutputSetData, OutputQueryInfo,
//   OutputMultiDbInfo, OutputMultiDbURL..., OutputRecordDataInfo,
//   OutputRecordData..., CloseOutputFile.
// Every step returns false when it refused or failed; a failed write, a
// failed table allocation, a negative count or a file grown past 2 GiB puts
// the writer in a failed state in which later steps write nothing, and
// CloseOutputFile then returns false. Nothing is ever written outside the
// fields and items of the layout.
//
// Reading: ReadOutputFile, then any getter in any order. No getter reads
// past the file or past the 10,240-byte read buffer: an item that is too long,
// lies outside the file or is cut short reads as "" (the query URL alone is
// cut to 10,239 bytes), and HasReadError() turns true.
class CQueryOutput {
 public:
  static constexpr int BUFFER_SIZE = 10240;
  static constexpr int kIndexSlots = 10;
  static constexpr int32_t kIndexBytes = 80;
  static constexpr int32_t kHeaderPos = 80;
  static constexpr int32_t kHeaderBytes = 588;
  static constexpr int32_t kTextsPos = kHeaderPos + kHeaderBytes;  // 668
  static constexpr int32_t kPairBytes = 8;

  CQueryOutput();
  ~CQueryOutput();
  CQueryOutput(const CQueryOutput&) = delete;
  CQueryOutput& operator=(const CQueryOutput&) = delete;

  // True while a file is open (for writing or reading).
  bool CheckOutputFileStatus() const { return m_pfileOutputFile != nullptr; }

  // --- Writer ---

  // Creates the file at path (kResultFileMode: the server account alone may
  // read it) for binary writing, or rewrites the empty file the caller
  // claimed under that name (its own, one link, regular); never writes
  // through a link. Zeroes the header and the index and writes the 80-byte
  // index placeholder. False when the file cannot be created or written. An
  // open file is closed first.
  bool WriteOutputFile(const std::string& path);
  // The same into `file`, open for writing at its start (a memory file).
  bool WriteOutputFile(UniqueFd file);

  // Header fields. OutputSetData writes them; values set after it never
  // reach the file.
  void SetQueryMatchCount(int value) { m_outfile_header_data.iMatchCount = value; }
  void SetPhoneOption(int value) { m_outfile_header_data.iPhone = value; }
  void SetMeanOption(int value) { m_outfile_header_data.iMean = value; }
  void SetFuzzyOption(int value) { m_outfile_header_data.iFuzzy = value; }
  void SetH2FOption(int value) { m_outfile_header_data.iH2F = value; }
  void SetOutputMode(int value) { m_outfile_header_data.iOutputMode = value; }
  void SetOutputCountPerPage(int value) { m_outfile_header_data.iOutputPerPage = value; }
  void SetMatchMode(int value) { m_outfile_header_data.iMatchMode = value; }
  void SetVelaTime(int value) { m_outfile_header_data.iVelaTime = value; }
  void SetQueryRunTime(int value) { m_outfile_header_data.iQueryRunTime = value; }
  void SetMultiDbCount(int value) { m_outfile_header_data.iMultiDbCount = value; }
  void SetFileNameSearch(int value) { m_outfile_header_data.iFileNameSearch = value; }
  void SetRelTermOption(int value) { m_outfile_header_data.iRelTermOption = value; }
  void SetRecordCount(int value) { m_outfile_header_data.iRecordCount = value; }
  // Keep at most 7 / 255 bytes (up to the first NUL) and a terminator; a
  // null text stores "".
  void SetSortOrder(const char* text);
  void SetSortField(const char* text);
  // The value must fit with its terminator: shorter than 8, 64, 64 and 128
  // bytes, and without NUL bytes. A value that does not fit is refused: the
  // call returns false and the field becomes empty (all zero).
  bool SetSBFNumber(const std::string& text);
  bool SetQueryUser(const std::string& text);
  bool SetIniFileName(const std::string& text);
  bool SetMainPageUrl(const std::string& text);

  // Slot 0 = {80, 588}; writes the header. Snapshots iMatchCount and
  // iMultiDbCount for the pair tables.
  bool OutputSetData();
  // Slots 1 to 5 = the five texts, laid back to back from the current
  // position; writes them. A text of slots 2 to 5 of BUFFER_SIZE bytes or
  // more could never be read back and is refused: it is written as an empty
  // item (length 0) and the call returns false; the other texts are written.
  // The query URL is written whole (readers cut it).
  bool OutputQueryInfo(const std::string& queryUrl, const std::string& queryKeyword,
                       const std::string& queryTerm, const std::string& indexName,
                       const std::string& relTerm);
  // Slot 6 = {current position, 0}; writes iMultiDbCount zero pairs. False
  // (writer failed) for a negative count or when the table cannot be had.
  bool OutputMultiDbInfo();
  // For 0 <= i < iMultiDbCount: pair i = {current position, length}; writes
  // the text. Any other i writes nothing and returns false, as does a text of
  // BUFFER_SIZE bytes or more (its pair stays {0, 0}, read back as "").
  bool OutputMultiDbURL(int i, const std::string& text);
  // Slot 7 = {current position, 0}; writes iMatchCount zero pairs. Failure
  // as OutputMultiDbInfo.
  bool OutputRecordDataInfo();
  // For 0 <= i < iMatchCount: pair i = {current position, length}; writes
  // the text. Other i and overlong texts as OutputMultiDbURL.
  bool OutputRecordData(int i, const std::string& text);
  // Rewrites the index and both pair tables in place, closes the file and
  // releases the tables. False when no file was open, when the writer had
  // failed, or when a rewrite or the close failed; the file is closed in
  // every case. On a file opened by ReadOutputFile it just closes it (true).
  bool CloseOutputFile();

  // True once the writer has failed (see above); the file is then useless.
  bool HasWriteError() const { return m_failed; }

  // --- Reader ---

  // Opens the file at path for binary reading (a regular file, never through
  // a link), reads the 80-byte index and the 588-byte header at slot 0's
  // position. False (and nothing open) when the file cannot be opened or
  // either part cannot be read whole. An open file is closed first.
  bool ReadOutputFile(const std::string& path);
  // The same on a file the caller opened (and checked); the object takes it.
  bool ReadOutputFile(UniqueFd fd);

  int GetMatchCount() const { return m_outfile_header_data.iMatchCount; }
  int GetPhoneOption() const { return m_outfile_header_data.iPhone; }
  int GetMeanOption() const { return m_outfile_header_data.iMean; }
  int GetFuzzyOption() const { return m_outfile_header_data.iFuzzy; }
  int GetH2FOption() const { return m_outfile_header_data.iH2F; }
  int GetOutputMode() const { return m_outfile_header_data.iOutputMode; }
  int GetOutputCountPerPage() const { return m_outfile_header_data.iOutputPerPage; }
  int GetMatchMode() const { return m_outfile_header_data.iMatchMode; }
  int GetVelaTime() const { return m_outfile_header_data.iVelaTime; }
  int GetQueryRunTime() const { return m_outfile_header_data.iQueryRunTime; }
  int GetMultiDbCount() const { return m_outfile_header_data.iMultiDbCount; }
  int GetFileNameSearch() const { return m_outfile_header_data.iFileNameSearch; }
  int GetRelTermOption() const { return m_outfile_header_data.iRelTermOption; }
  int GetRecordCount() const { return m_outfile_header_data.iRecordCount; }

  // Header texts, up to the first NUL and never past size - 1 bytes.
  std::string GetSortField() const;
  std::string GetSortOrder() const;
  std::string GetSBFNumber() const;
  std::string GetQueryUser() const;
  std::string GetIniFileName() const;
  std::string GetMainPageUrl() const;

  // The query texts of slots 1 to 5, byte for byte (zero bytes included).
  std::string GetQueryURL();
  std::string GetQueryKeyword();
  std::string GetQueryTerm();
  std::string GetQueryIndexName();
  std::string GetRelTerm();
  // Descriptor / record line i; "" without touching the file when i is
  // negative or not below iMultiDbCount / iMatchCount.
  std::string GetMultiDbURL(int i);
  std::string GetRecordData(int i);

  // True once a getter met an item it could not read whole (too long,
  // outside the file, negative position or length, file cut short).
  bool HasReadError() const { return m_readError; }

  // The index as written or read (for inspection). REQUIRES: 0 <= slot < kIndexSlots.
  const CIndexPairDataStructure& IndexSlot(int slot) const { return m_arr_lng_outfile_index[slot]; }
  const QueryOutputHeader& Header() const { return m_outfile_header_data; }

 private:
  enum class Stage { Closed, Opened, HeaderDone, TextsDone, MultiDb, Records, Reading };

  bool writeBytes(const void* data, size_t size);
  bool writePairs(const std::vector<CIndexPairDataStructure>& pairs, size_t count);
  bool startPairTable(int slot, int32_t count, std::vector<CIndexPairDataStructure>& table,
                      Stage next);
  bool writeItem(std::vector<CIndexPairDataStructure>& table, int i, const std::string& text,
                 Stage stage);
  bool rewriteAt(int64_t pos, const std::vector<CIndexPairDataStructure>& pairs, size_t count);
  bool fail();
  void closeFile();
  std::string readSlot(int slot, bool cutLongItem);
  std::string readItem(int64_t pos, int64_t len, bool cutLongItem);
  std::string readTableItem(int slot, int32_t count, int i);
  // The `n` bytes at `pos` of the file being read; false when it ends
  // before them.
  bool readAt(int64_t pos, char* out, size_t n);

  FILE* m_pfileOutputFile = nullptr;
  Stage m_stage = Stage::Closed;
  bool m_failed = false;
  bool m_readError = false;
  int64_t m_position = 0;      // where the next write lands
  int32_t m_multiDbCount = 0;  // snapshot taken by OutputSetData
  int32_t m_matchCount = 0;    // snapshot taken by OutputSetData
  // Parts of a file being read that earlier reads brought in, each from its
  // pos (-1: none), the least recently used replaced first: a page reads
  // each hit from the record table and from the items the table points to,
  // so one window alone would be read anew for nearly every item.
  struct Window {
    std::unique_ptr<char[]> bytes;
    size_t capacity = 0;  // of bytes
    size_t size = 0;      // read into bytes
    int64_t pos = -1;
    uint64_t used = 0;
  };
  static constexpr size_t kWindows = 4;
  Window m_windows[kWindows];
  uint64_t m_windowUses = 0;
  // The stream buffer of a file being written (kWriteBufferBytes): the
  // default one made a system call for every few dozen hits of a large
  // result. Made once, so it never moves under an open stream.
  std::unique_ptr<char[]> m_writeBuffer;
  CIndexPairDataStructure m_arr_lng_outfile_index[kIndexSlots];
  QueryOutputHeader m_outfile_header_data;
  std::vector<CIndexPairDataStructure> m_pCIndexPairMultiDb;
  std::vector<CIndexPairDataStructure> m_pCIndexPairRecData;
};

// The 588 header bytes of `header` / the header read from 588 bytes.
void encodeQueryOutputHeader(const QueryOutputHeader& header, unsigned char* out);
QueryOutputHeader decodeQueryOutputHeader(const unsigned char* in);

#endif  // SEARCHRUN_OUTPUT_QUERY_OUTPUT_H
