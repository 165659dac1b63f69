/// @file suggest_keys.cc
/// @brief The look-alike key file of an index database: written by the
/// builder, loaded by the engine while it matches the database.

#include "companions/engine/suggest_keys.h"

#include <xapian.h>

#include "companions/engine/engine_query.h"
#include "companions/engine/engine_query_parts.h"
#include "companions/engine/index_files.h"
#include "system/secure_file.h"

namespace vela {

namespace {

std::string utf8Of(char32_t c) {
  std::string out;
  Xapian::Unicode::append_utf8(out, static_cast<unsigned>(c));
  return out;
}

}  // namespace

bool keysCover(const std::u32string& word) {
  if (word.empty()) return false;
  const std::u32string back = codePoints(utf8Of(word[0]));
  return back.size() == 1 && back[0] == word[0];
}

std::vector<KeyTerm> keyTermsOf(const Xapian::Database& db) {
  std::vector<KeyTerm> terms;
  for (auto it = db.allterms_begin(); it != db.allterms_end(); ++it) {
    KeyTerm t{*it, codePoints(*it)};
    // A term that does not begin with its first character's encoding is
    // found by no word's first character.
    if (t.codePoints.empty() || !keysCover(t.codePoints) ||
        t.bytes.compare(0, utf8Of(t.codePoints[0]).size(), utf8Of(t.codePoints[0])) != 0)
      continue;
    terms.push_back(std::move(t));
  }
  return terms;
}

bool writeSuggestKeys(const std::string& home, std::string& error) {
  const std::string path = home + "/" + kSuggestKeysFile;
  try {
    const Xapian::Database db = openIndexDb(home);
    const std::string bytes = encodeSuggestKeys(db.get_uuid(), db.get_revision(), keyTermsOf(db));
    if (bytes.empty()) {
      error = "too many terms for " + path;
      return false;
    }
    if (writeNewFile(path, bytes)) return true;
    error = "cannot write " + path;
  } catch (const Xapian::Error& e) {
    error = "cannot read the terms for " + path + ": " + e.get_description();
  }
  return false;
}

std::shared_ptr<const SuggestKeys> loadSuggestKeys(const std::string& home,
                                                   const Xapian::Database& db) {
  std::string bytes;
  if (!readRegularFile(home + "/" + kSuggestKeysFile, bytes, kMaxSuggestKeysBytes)) return nullptr;
  std::optional<SuggestKeys> keys = SuggestKeys::parse(bytes);
  try {
    if (!keys || keys->uuid() != db.get_uuid() || keys->revision() != db.get_revision())
      return nullptr;
  } catch (const Xapian::Error&) {
    return nullptr;
  }
  return std::make_shared<const SuggestKeys>(std::move(*keys));
}

}  // namespace vela
