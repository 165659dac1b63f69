/// @file record_term.h
/// @brief The record term dictionary of an index: for every record its
/// characteristic terms with a weight, and the names of the terms. The
/// similar-document query reads it; the index builder writes it.
///
/// Three files in the index directory, 32-bit integers in host byte order:
///   relterm.off  offsets into relterm.tab; record r (from 1) owns the bytes
///                from entry r-1 up to entry r
///   relterm.tab  8-byte entries: term id, weight (signed each)
///   relterm.dic  term count N (clear), then a scrambled body: N entries of
///                16 bytes (the first 4 the offset of the term's
///                NUL-terminated name in the string area, the rest unused),
///                then the string area
///   relterm.frq  (indexes built since the related-term tool reads the
///                dictionary; older ones lack it) the term count N and the
///                index's record count, then N 8-byte entries: the number of
///                records of the index holding the term, the offset of its
///                engine (UTF-8) name in the string area; then the string
///                area

#ifndef SEARCHRUN_TEXT_RECORD_TERM_H
#define SEARCHRUN_TEXT_RECORD_TERM_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "system/secure_file.h"

constexpr const char* kRecordTermOffsetFile = "relterm.off";
constexpr const char* kRecordTermTableFile = "relterm.tab";
constexpr const char* kRecordTermDictFile = "relterm.dic";
constexpr const char* kRecordTermFreqFile = "relterm.frq";

// Size of one index entry of the dictionary body.
constexpr size_t kDictEntryBytes = 16;

// One (term id, weight) pair of a record.
struct MATCHINF {
  int32_t termId;
  int32_t weight;
};

// The scrambling of the dictionary body, shared with its writer. Decoding
// XORs each byte with the key byte at a key index that starts at 0 and only
// moves (to the previous clear byte & 7) when it rests on the key's
// terminating 0; encoding is the same walk.
void text_decode(std::string& bytes);
void text_encode(std::string& bytes);

// The three files' contents for `records` (record r + 1 is records[r]) and
// the term names (term id i is names[i]; a name must not hold a NUL).
struct RecordTermFiles {
  std::string off, tab, dic;
};
RecordTermFiles encodeRecordTermFiles(const std::vector<std::vector<MATCHINF>>& records,
                                      const std::vector<std::string>& names);

// One term of relterm.frq.
struct TermFrequency {
  uint32_t records;  // holding the term
  std::string name;  // UTF-8, without a NUL
};
std::string encodeTermFrequencies(uint32_t indexRecords, const std::vector<TermFrequency>& terms);

// A loaded relterm.frq.
class TermFrequencies {
 public:
  // False (nothing loaded) when the bytes are shorter than their header and
  // N entries say.
  bool load(std::string bytes);
  size_t size() const { return count_; }
  uint32_t indexRecords() const { return indexRecords_; }
  // Records holding term `id`; 0 when the id is not below the count.
  uint32_t records(int32_t id) const;
  // Its name; null as TermDictionary::name.
  const char* name(int32_t id) const;

 private:
  std::string bytes_;
  size_t count_ = 0;
  uint32_t indexRecords_ = 0;
};

// The records' term lists of one index directory, its files kept open: for
// many records at a time, and safe for concurrent use.
class RecordTermTable {
 public:
  // False when relterm.off or relterm.tab cannot be opened and read.
  bool open(const std::string& directory);
  // Record count the offsets file covers.
  size_t records() const { return offsets_.empty() ? 0 : offsets_.size() - 1; }
  // The record's (term id, weight) pairs in file order; false when the
  // record is not in the files or its span is damaged.
  bool read(int record, std::vector<MATCHINF>& out) const;

 private:
  std::vector<uint32_t> offsets_;
  UniqueFd tab_;
};

// A loaded dictionary.
class TermDictionary {
 public:
  // Loads the whole bytes of a "relterm.dic". False (nothing loaded) when
  // the count cannot be read or the body is shorter than its N entries.
  bool load(std::string bytes);
  size_t size() const { return count_; }
  // Name of term `id`; null when the id is not below the count or its name
  // does not lie whole (with its NUL) inside the string area.
  const char* name(int32_t id) const;

 private:
  std::string body_;
  size_t count_ = 0;
};

// The reader of one index directory's dictionary files.
class RecordTerm {
 public:
  // At most 1023 characters of the directory are kept. Always true.
  bool SetIndexHome(const char* directory);

  // The record's term ids (or pairs) in falling weight, at most `max`; -1
  // when its terms cannot be read. Entries of equal weight keep file order.
  int GetRecordTermId(int record, int32_t* ids, int max);
  int GetRecordTermId(int record, MATCHINF* out, int max);

  // The term's name, or null (see TermDictionary::name, and when the
  // dictionary cannot be loaded). The text lives as long as this object.
  const char* GetTermName(int32_t termId);

 private:
  bool readRecordTerm(int record);
  bool loadDictionary();

  std::vector<MATCHINF> entries_;
  TermDictionary dict_;
  bool dictTried_ = false;
  bool dictLoaded_ = false;
  std::string home_;
  int count_ = -1;
};

#endif  // SEARCHRUN_TEXT_RECORD_TERM_H
