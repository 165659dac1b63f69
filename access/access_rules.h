/// @file access_rules.h
/// @brief The access file an index is protected with: which users and groups
/// may read which of its documents.
///
/// Text, one entry a line, fields separated by one TAB:
///   # a comment                  (also blank lines)
///   @GROUP<TAB>USER,USER,...     a group and its members (users only)
///   PATTERN<TAB>READER,...       who may read the documents PATTERN matches
/// A READER is a user name, "@GROUP", or "*" for everyone (signed in or not).
/// PATTERN matches the document's path below the indexed folder: "*" any run
/// of characters ("/" included), "?" one character, "[...]" a set. The first
/// rule that matches decides; a document no rule matches is read by nobody.
/// Blanks around names and patterns are dropped. A group may be defined after
/// the rules that name it, but only once, and every group named must be
/// defined. User names are the names users sign in with, byte for byte;
/// they hold no control character, "," or "@" at their start.

#ifndef SEARCHRUN_ACCESS_ACCESS_RULES_H
#define SEARCHRUN_ACCESS_ACCESS_RULES_H

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Largest access file read.
constexpr size_t kMaxAccessFileBytes = 4u << 20;

// Who may read the documents of one rule.
struct AccessReaders {
  bool everyone = false;
  std::vector<std::string> users;   // as written, each once
  std::vector<std::string> groups;  // names without "@", each once
};

class AccessRules {
 public:
  // Parses an access file. False with `error` as "line N: what is wrong"
  // (or a whole-file complaint), the rules then empty.
  bool parse(std::string_view bytes, std::string& error);
  // Reads and parses the file at `path` (a regular file, at most
  // kMaxAccessFileBytes); false with `error` naming the file.
  bool load(const std::string& path, std::string& error);

  // The readers of the first rule matching `path`; null when none matches.
  const AccessReaders* readersOf(const std::string& path) const;
  // Whether `user` is a reader of `readers` (everyone, named, or a member
  // of a named group).
  bool allows(const AccessReaders& readers, const std::string& user) const;

  // Every user named in a rule or a group, sorted, each once.
  std::vector<std::string> users() const;
  // Every group, sorted by name, with its members.
  const std::map<std::string, std::vector<std::string>>& groups() const { return m_groups; }
  // The groups `user` belongs to, sorted.
  std::vector<std::string> groupsOf(const std::string& user) const;

  size_t ruleCount() const { return m_rules.size(); }

 private:
  struct Rule {
    std::string pattern;
    AccessReaders readers;
  };
  bool parseLine(std::string_view line, std::string& problem);
  std::vector<Rule> m_rules;
  std::map<std::string, std::vector<std::string>> m_groups;
};

#endif  // SEARCHRUN_ACCESS_ACCESS_RULES_H
