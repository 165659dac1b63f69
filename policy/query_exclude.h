/// @file query_exclude.h
/// @brief Lists of forbidden search words: one wildcard pattern per line of a
/// text file, and the run-wide mark of a refused query.

#ifndef SEARCHRUN_POLICY_QUERY_EXCLUDE_H
#define SEARCHRUN_POLICY_QUERY_EXCLUDE_H

#include <string>
#include <vector>

#include "text/pattern_matcher.h"

// 1 until an exclusion list refuses the query of this run, then 0 for the
// rest of the run (every later index gets the refused-query token too). The
// query output file shows a refused query as "_QUERY_DISALLOWED_". Set back
// to 1 by resetPolicyRunState.
extern int g_search_keyword_allowed;

// The policy's process-wide state as the program starts: queries allowed,
// and the character classes of the "C" locale (the exclusion check sets
// those of the installation's code page). For a process that makes runs one
// after another.
void resetPolicyRunState();

// Results of ExclusionList::getList.
constexpr int kExcludeListRead = 1;
constexpr int kExcludeListUnreadable = -1;

// One exclusion list. Lines end with LF or CR LF, the last line may lack its
// line feed, empty lines are skipped and every other line is a pattern
// (text/pattern_matcher.h). Not copyable or movable: the query words point
// into the object's own copy of the query.
class ExclusionList {
 public:
  ExclusionList() = default;
  ExclusionList(const ExclusionList&) = delete;
  ExclusionList& operator=(const ExclusionList&) = delete;

  // Drops the current patterns, then loads the regular file at `path` whole.
  // kExcludeListRead even when it holds no pattern; kExcludeListUnreadable
  // (and no patterns) when it is missing, not a regular file, or unreadable.
  int getList(const char* path);

  // False when a word of `query` matches a pattern; true otherwise, and
  // always true while no pattern is loaded.
  bool isQueryAllowed(const char* query);

  // Splits a copy of `query` at ASCII blanks into the words that are checked,
  // leaving out "and", "or" and "not" in any case. Returns 0.
  int parseQuery(const char* query);

  // Releases the patterns and the file text.
  void clearExcludeFile();

  // How patterns and words are cut into characters (Regexp::setCharLength);
  // set it before getList.
  void setCharLength(Regexp::CharLengthFn fn) { m_regexp.setCharLength(fn); }

  size_t patternCount() const { return m_patterns.size(); }
  // The words of the last parseQuery; valid until the next one.
  const std::vector<const char*>& queryWords() const { return m_words; }

 private:
  std::string m_query;       // the words point into it
  std::vector<char> m_file;  // the whole list, lines cut in place
  Regexp m_regexp;
  std::vector<const char*> m_words;
  std::vector<Regexp::Pattern> m_patterns;  // point into m_file
};

#endif  // SEARCHRUN_POLICY_QUERY_EXCLUDE_H
