/// @file suggest_keys.h
/// @brief The look-alike key file of an index, HOME/suggest_keys: every
/// term of the engine database grouped by its first character and its
/// length, its code points stored flat, so that the look-alikes of a word
/// are found in the few groups its length allows rather than by decoding
/// every term that shares its first character.
///
/// The bytes, all integers in the byte order of the host that wrote them:
///   "VSUGKEY1", u32 0x01020304 (another host's file reads as damaged),
///   u32 uuid length (at most kMaxUuidBytes), u64 database revision,
///   u64 checksum of every other byte of the file, u32 group count,
///   u32 word count, u32 code point count, u32 term byte count,
///   the database uuid;
///   per group, in (first character, length) order: u32 first character,
///   u32 length, u32 first word, u32 words, u32 first code point;
///   per word: u32 offset and u32 length of its bytes in the term bytes;
///   the code points (u32 each) of every word, group by group;
///   the term bytes.
/// The file ends with the term bytes. A file that is missing, damaged or
/// written for another revision of the database is not used: the engine then
/// goes over the terms themselves and finds the same look-alikes.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_SUGGEST_KEYS_H
#define SEARCHRUN_COMPANIONS_ENGINE_SUGGEST_KEYS_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Xapian {
class Database;
}

namespace vela {

constexpr const char* kSuggestKeysFile = "suggest_keys";
constexpr size_t kMaxUuidBytes = 64;
// Largest key file read: far above the key file of any vocabulary a
// builder keeps, small enough that a planted file cannot exhaust memory.
constexpr size_t kMaxSuggestKeysBytes = size_t{1} << 30;

// A term of the key file: its bytes and its code points, the first of which
// the bytes begin with (as encoded in UTF-8).
struct KeyTerm {
  std::string bytes;
  std::u32string codePoints;
};

// A look-alike of a word: its likeness (the share of the typed word's
// characters not edited, at least 0.1) and the term.
using LookAlike = std::pair<double, std::string>;

class SuggestKeys {
 public:
  // The keys of a file's bytes; nothing unless they are a whole, intact
  // key file of this host's byte order.
  static std::optional<SuggestKeys> parse(std::string_view bytes);

  const std::string& uuid() const { return uuid_; }
  uint64_t revision() const { return revision_; }
  size_t wordCount() const { return terms_.size(); }

  // Every term that begins with the word's first character and is at least
  // `percent` similar to it (1 - edits / the longer length, edits counting
  // a swap of neighbours as one), the likeliest first, terms of equal
  // likeness in byte order. An empty word has none.
  std::vector<LookAlike> lookAlikes(const std::u32string& word, int percent) const;

 private:
  struct Group {
    uint32_t first;
    uint32_t length;
    uint32_t firstWord;
    uint32_t words;
    uint32_t firstCodePoint;
  };
  std::string uuid_;
  uint64_t revision_ = 0;
  std::vector<Group> groups_;
  struct Term {  // where a word's bytes lie in bytes_
    uint32_t offset;
    uint32_t length;
  };
  std::vector<Term> terms_;
  std::vector<uint64_t> masks_;  // the characters of each word, hashed to bits
  std::vector<char32_t> codePoints_;
  std::string bytes_;
};

// The bytes of a key file for `terms` (each at most once, of at least one
// code point) of the database with `uuid` (at most kMaxUuidBytes) at
// `revision`; empty when the counts exceed the format.
std::string encodeSuggestKeys(const std::string& uuid, uint64_t revision,
                              const std::vector<KeyTerm>& terms);

// Sets the checksum field of key file bytes to what their other bytes give;
// for those who craft files (tests, fuzzing). Shorter bytes stay as they are.
void sealSuggestKeys(std::string& bytes);

// The terms of a database for its key file: every term whose bytes begin
// with the UTF-8 of its first character (others are no look-alike of any
// word), in byte order.
std::vector<KeyTerm> keyTermsOf(const Xapian::Database& db);

// Writes HOME/suggest_keys (which must not exist yet) for the database of
// the index at `home`; false with a message on failure.
bool writeSuggestKeys(const std::string& home, std::string& error);

// The keys of the index at `home` for its open database `db`; null when the
// file is missing, damaged or was written for another revision or database.
std::shared_ptr<const SuggestKeys> loadSuggestKeys(const std::string& home,
                                                   const Xapian::Database& db);

// The same look-alikes as SuggestKeys::lookAlikes, found by a pass over
// every term of `db` that begins with the word's first character.
std::vector<LookAlike> lookAlikesByPass(const Xapian::Database& db, const std::u32string& word,
                                        int percent);

// Whether the key file can stand for the pass over the terms for `word`: a
// word whose first character UTF-8 encodes and decodes back to itself (the
// pass looks up the terms by that encoding).
bool keysCover(const std::u32string& word);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_SUGGEST_KEYS_H
