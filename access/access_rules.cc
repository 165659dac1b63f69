/// @file access_rules.cc
/// @brief Reading an access file and deciding who reads a document.

#include "access/access_rules.h"

#include <fnmatch.h>

#include <algorithm>
#include <set>

#include "system/secure_file.h"

namespace {

constexpr size_t kMaxLineBytes = 8192;

std::string_view trim(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

bool hasControlByte(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
  });
}

// The names of a comma-separated list; false with `problem` at an empty or
// unusable one.
bool splitNames(std::string_view list, std::vector<std::string>& names, std::string& problem) {
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    const std::string_view name =
        trim(list.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (name.empty()) {
      problem = "an empty name in the list (two commas, or one at an end)";
      return false;
    }
    if (hasControlByte(name)) {
      problem = "a name holds a control character";
      return false;
    }
    names.emplace_back(name);
    if (comma == std::string_view::npos) return true;
    start = comma + 1;
  }
}

void addOnce(std::vector<std::string>& list, const std::string& name) {
  if (std::find(list.begin(), list.end(), name) == list.end()) list.push_back(name);
}

}  // namespace

bool AccessRules::parseLine(std::string_view line, std::string& problem) {
  const std::string_view whole = trim(line);
  if (whole.empty() || whole[0] == '#') return true;
  const size_t tab = line.find('\t');
  if (tab == std::string_view::npos) {
    problem = "no TAB between the pattern (or @group) and its readers";
    return false;
  }
  const std::string_view left = trim(line.substr(0, tab));
  // A run of TABs is one separator, so that columns may be lined up.
  const std::string_view right = trim(line.substr(tab + 1));
  if (right.find('\t') != std::string_view::npos) {
    problem = "more than one field after the TAB";
    return false;
  }
  if (left.empty() || left == "@") {
    problem = "no pattern (or group name) before the TAB";
    return false;
  }
  if (hasControlByte(left)) {
    problem = "the pattern holds a control character";
    return false;
  }
  if (right.empty()) {
    problem = "no readers after the TAB";
    return false;
  }
  std::vector<std::string> names;
  if (!splitNames(right, names, problem)) return false;
  if (left[0] == '@') {
    const std::string group(left.substr(1));
    if (m_groups.count(group)) {
      problem = "group @" + group + " is defined twice";
      return false;
    }
    std::vector<std::string>& members = m_groups[group];
    for (const std::string& name : names) {
      if (name[0] == '@' || name == "*") {
        problem = "the members of a group are users, not " + name;
        return false;
      }
      addOnce(members, name);
    }
    return true;
  }
  Rule rule;
  rule.pattern.assign(left);
  for (const std::string& name : names) {
    if (name == "*") {
      rule.readers.everyone = true;
    } else if (name[0] == '@') {
      if (name.size() == 1) {
        problem = "\"@\" without a group name";
        return false;
      }
      addOnce(rule.readers.groups, name.substr(1));
    } else {
      addOnce(rule.readers.users, name);
    }
  }
  m_rules.push_back(std::move(rule));
  return true;
}

bool AccessRules::parse(std::string_view bytes, std::string& error) {
  m_rules.clear();
  m_groups.clear();
  std::map<std::string, size_t> firstUse;  // group -> line of its first mention
  size_t lineNo = 0;
  size_t start = 0;
  bool ok = true;
  while (ok && start < bytes.size()) {
    ++lineNo;
    size_t end = bytes.find('\n', start);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(start, end - start);
    start = end + 1;
    std::string problem;
    const size_t rulesBefore = m_rules.size();
    if (line.size() > kMaxLineBytes) {
      problem = "longer than " + std::to_string(kMaxLineBytes) + " bytes";
    } else if (line.find('\0') != std::string_view::npos) {
      problem = "holds a zero byte";
    } else if (parseLine(line, problem) && m_rules.size() > rulesBefore) {
      for (const std::string& group : m_rules.back().readers.groups)
        firstUse.emplace(group, lineNo);
    }
    if (!problem.empty()) {
      error = "line " + std::to_string(lineNo) + ": " + problem;
      ok = false;
    }
  }
  for (auto it = firstUse.begin(); ok && it != firstUse.end(); ++it) {
    if (!m_groups.count(it->first)) {
      error = "line " + std::to_string(it->second) + ": group @" + it->first + " is not defined";
      ok = false;
    }
  }
  if (ok && m_rules.empty()) {
    error = "no rule: every document would be hidden from everyone";
    ok = false;
  }
  if (!ok) {
    m_rules.clear();
    m_groups.clear();
  }
  return ok;
}

bool AccessRules::load(const std::string& path, std::string& error) {
  std::string bytes;
  if (!readRegularFile(path, bytes, kMaxAccessFileBytes + 1)) {
    error = "cannot read the access file " + path + " (it must be a regular file)";
    return false;
  }
  if (bytes.size() > kMaxAccessFileBytes) {
    error = "the access file " + path + " is larger than " + std::to_string(kMaxAccessFileBytes) +
            " bytes";
    return false;
  }
  if (parse(bytes, error)) return true;
  error = "access file " + path + ", " + error;
  return false;
}

const AccessReaders* AccessRules::readersOf(const std::string& path) const {
  for (const Rule& rule : m_rules)
    if (fnmatch(rule.pattern.c_str(), path.c_str(), 0) == 0) return &rule.readers;
  return nullptr;
}

bool AccessRules::allows(const AccessReaders& readers, const std::string& user) const {
  if (readers.everyone) return true;
  if (std::find(readers.users.begin(), readers.users.end(), user) != readers.users.end())
    return true;
  for (const std::string& group : readers.groups) {
    const auto it = m_groups.find(group);
    if (it != m_groups.end() &&
        std::find(it->second.begin(), it->second.end(), user) != it->second.end())
      return true;
  }
  return false;
}

std::vector<std::string> AccessRules::users() const {
  std::set<std::string> all;
  for (const Rule& rule : m_rules)
    all.insert(rule.readers.users.begin(), rule.readers.users.end());
  for (const auto& group : m_groups)
    all.insert(group.second.begin(), group.second.end());
  return {all.begin(), all.end()};
}

std::vector<std::string> AccessRules::groupsOf(const std::string& user) const {
  std::vector<std::string> out;
  for (const auto& group : m_groups)
    if (std::find(group.second.begin(), group.second.end(), user) != group.second.end())
      out.push_back(group.first);
  return out;
}
