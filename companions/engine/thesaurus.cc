/// @file thesaurus.cc
/// @brief Thesaurus files: groups of words a query may take for one another.

#include "companions/engine/engine_query.h"

#include <algorithm>
#include <sstream>

#include "companions/engine/codepage.h"
#include "companions/engine/text_fold.h"
#include "system/secure_file.h"

namespace vela {

namespace {

// Largest thesaurus read; a larger file is not taken at all.
constexpr size_t kMaxThesaurusBytes = 16u << 20;

std::string trimBlanks(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

}  // namespace

bool Thesaurus::load(const std::string& path, const CodePage& cp) {
  std::string bytes;
  if (!readRegularFile(path, bytes, kMaxThesaurusBytes)) return false;
  std::istringstream in(bytes);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> members;
    size_t start = 0;
    for (;;) {
      size_t dollar = line.find('$', start);
      std::string m = trimBlanks(
          line.substr(start, dollar == std::string::npos ? std::string::npos : dollar - start));
      if (!m.empty()) members.push_back(cp.toUtf8(m));
      if (dollar == std::string::npos) break;
      start = dollar + 1;
    }
    if (members.size() > 1) addGroup(members);
  }
  return true;
}

void Thesaurus::addGroup(const std::vector<std::string>& utf8Members) {
  std::vector<std::string> folded;
  for (const std::string& m : utf8Members)
    folded.push_back(foldText(m));
  for (const std::string& f : folded)
    index_.emplace(f, groups_.size());
  groups_.push_back(std::move(folded));
}

std::vector<std::string> Thesaurus::synonyms(const std::string& folded) const {
  std::vector<std::string> out;
  auto range = index_.equal_range(folded);
  for (auto it = range.first; it != range.second; ++it)
    for (const std::string& m : groups_[it->second])
      if (m != folded && std::find(out.begin(), out.end(), m) == out.end()) out.push_back(m);
  return out;
}

}  // namespace vela
