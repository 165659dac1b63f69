/// @file class_book.cc
/// @brief Reading the class file and answering the class commands.

#include "companions/class_server/class_book.h"

#include <algorithm>
#include <cstdint>
#include <set>

#include "system/address.h"
#include "system/delimiters.h"
#include "system/numbers.h"
#include "system/server_protocol.h"

namespace classserver {

namespace {

constexpr const char* kNoSuchClass = "Can't find class";

std::string_view trimmed(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// A name or id that every reader downstream keeps whole on one line.
bool isClassText(std::string_view s) {
  return !s.empty() && s.size() <= kMaxClassText && std::none_of(s.begin(), s.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

std::vector<std::string> words(std::string_view s) {
  std::vector<std::string> out;
  size_t at = 0;
  while ((at = s.find_first_not_of(" \t", at)) != std::string_view::npos) {
    const size_t end = std::min(s.find_first_of(" \t", at), s.size());
    out.emplace_back(s.substr(at, end - at));
    at = end;
  }
  return out;
}

// The index id a reference names on this host; "" (with `why`) otherwise.
std::string indexOfReference(const std::string& ref, const std::string& thisHost,
                             std::string& why) {
  const bool isUid =
      ref.size() > 9 && ref[8] == '_' && std::all_of(ref.begin(), ref.begin() + 8, [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
      });
  std::string id = ref;
  if (isUid) {
    std::string ip;
    systemDecodeIndexID(ref.c_str(), ip, id);
    if (ip != thisHost) {
      why = "the index uid " + ref + " names another host than " + thisHost;
      return "";
    }
  }
  // (A zero byte would end the name early for the check alone.)
  if (!isSafeIndexName(id.c_str()) || id.find('\0') != std::string::npos) {
    why = "no index id or index uid: " + ref;
    return "";
  }
  return id;
}

// The state of reading one file.
struct Reader {
  Reader(const std::string& host, std::vector<std::string>& out) : thisHost(host), problems(out) {}

  const std::string& thisHost;
  std::vector<std::string>& problems;
  std::vector<ClassDef> classes;
  bool inClass = false;  // the current section is a class being kept
  int line = 0;

  void problem(const std::string& what) {
    problems.push_back("line " + std::to_string(line) + ": " + what);
  }

  void section(std::string_view name) {
    inClass = false;
    if (!isClassText(name)) return problem("a class name is 1 to 255 bytes of text");
    if (classes.size() >= kMaxClasses) return problem("more classes than a file may hold");
    for (const ClassDef& c : classes)
      if (c.name == name) return problem("the class " + c.name + " is named twice");
    ClassDef def;
    def.name = name;
    def.line = line;
    classes.push_back(std::move(def));
    inClass = true;
  }

  void member(ClassDef& def, std::string_view value) {
    const std::vector<std::string> parts = words(value);
    int64_t status = 0;
    if (parts.empty() || parts.size() > 2 ||
        (parts.size() == 2 && !parseDecimal(parts[1], 0, INT32_MAX, status)))
      return problem("an index line is: index = REF [STATUS]");
    std::string why;
    const std::string id = indexOfReference(parts[0], thisHost, why);
    if (id.empty()) return problem(why);
    def.members.push_back({id, static_cast<int>(status)});
  }

  void setting(std::string_view key, std::string_view value) {
    if (!inClass) return problem("a setting outside a class");
    ClassDef& def = classes.back();
    if (key == "uid") {
      if (!isClassText(value)) return problem("a uid is 1 to 255 bytes of text");
      if (!def.uid.empty()) return problem("a second uid of " + def.name);
      for (const ClassDef& c : classes)
        if (c.uid == value) return problem("the uid " + c.uid + " belongs to " + c.name);
      def.uid = value;
    } else if (key == "index" || key == "subclass") {
      if (def.members.size() + def.subclasses.size() >= kMaxMembers)
        return problem("more members than a class may hold");
      if (key == "index") return member(def, value);
      if (!isClassText(value)) return problem("a class name is 1 to 255 bytes of text");
      def.subclasses.emplace_back(value);
    } else if (key == "users") {
      const std::vector<std::string> users = words(value);
      if (users.empty()) return problem("a users line names at least one user, or *");
      def.users.insert(def.users.end(), users.begin(), users.end());
    } else {
      problem("unknown setting " + std::string(key));
    }
  }

  void read(std::string_view text) {
    while (!text.empty()) {
      ++line;
      const size_t end = std::min(text.find('\n'), text.size());
      const std::string_view raw = trimmed(text.substr(0, end));
      text.remove_prefix(std::min(end + 1, text.size()));
      if (raw.empty() || raw[0] == '#') continue;
      if (raw.front() == '[' && raw.back() == ']') {
        section(trimmed(raw.substr(1, raw.size() - 2)));
        continue;
      }
      const size_t eq = raw.find('=');
      if (eq == std::string_view::npos) {
        problem("neither [NAME] nor key = value");
        continue;
      }
      setting(trimmed(raw.substr(0, eq)), trimmed(raw.substr(eq + 1)));
    }
  }
};

std::string indexRecord(const std::string& id, int status, const IndexInfo& info,
                        const AnswerContext& context) {
  std::string uid;
  make_index_uid(context.host.c_str(), id.c_str(), uid);
  const std::string F = kFieldDelim;
  return context.host + F + info.owner + F + info.desc + F + id + F +
         std::to_string(context.queryPort) + F + info.type + F + std::to_string(status) + F + F +
         uid + kGroupEndDelim;
}

// The indexes of `def` and of its sub-classes, each once, depth first.
void collectIndexes(const ClassBook& book, const ClassDef& def, std::set<std::string>& classesSeen,
                    std::set<std::string>& indexesSeen, std::vector<ClassMember>& out) {
  if (!classesSeen.insert(def.name).second) return;
  for (const ClassMember& m : def.members)
    if (indexesSeen.insert(m.index).second) out.push_back(m);
  for (const std::string& sub : def.subclasses)
    if (const ClassDef* s = book.byName(sub))
      collectIndexes(book, *s, classesSeen, indexesSeen, out);
}

}  // namespace

bool ClassDef::admits(const std::string& user) const {
  return users.empty() || std::find(users.begin(), users.end(), "*") != users.end() ||
         std::find(users.begin(), users.end(), user) != users.end();
}

ClassBook ClassBook::parse(std::string_view text, const std::string& thisHost,
                           std::vector<std::string>& problems) {
  ClassBook book;
  if (text.size() > kMaxClassFileBytes) {
    problems.push_back("the file is larger than " + std::to_string(kMaxClassFileBytes) +
                       " bytes: no class is read");
    return book;
  }
  Reader reader(thisHost, problems);
  reader.read(text);
  for (ClassDef& def : reader.classes) {
    if (def.uid.empty()) {
      problems.push_back("line " + std::to_string(def.line) + ": the class " + def.name +
                         " has no uid and is left out");
      continue;
    }
    book.byName_[def.name] = book.classes_.size();
    book.byUid_[def.uid] = book.classes_.size();
    book.classes_.push_back(std::move(def));
  }
  for (const ClassDef& def : book.classes_)
    for (const std::string& sub : def.subclasses)
      if (!book.byName(sub))
        problems.push_back("line " + std::to_string(def.line) + ": the sub-class " + sub + " of " +
                           def.name + " is no class");
  return book;
}

const ClassDef* ClassBook::byName(const std::string& name) const {
  const auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : &classes_[it->second];
}

const ClassDef* ClassBook::byUid(const std::string& uid) const {
  const auto it = byUid_.find(uid);
  return it == byUid_.end() ? nullptr : &classes_[it->second];
}

std::string classAnswer(const ClassBook& book, const ClassDef& def, const std::string& user,
                        const AnswerContext& context) {
  std::set<std::string> classesSeen, indexesSeen;
  std::vector<ClassMember> members;
  collectIndexes(book, def, classesSeen, indexesSeen, members);
  std::string answer;
  for (const ClassMember& m : members) {
    IndexInfo info;
    if (context.lookup && context.lookup(m.index, info))
      answer += indexRecord(m.index, m.status, info, context);
  }
  answer += kValueDelim;
  const std::string F = kFieldDelim;
  answer += def.name + F + def.uid + kGroupEndDelim;
  // The reader places every class after the first second: sending the
  // sub-classes last first lists them in file order.
  for (auto it = def.subclasses.rbegin(); it != def.subclasses.rend(); ++it) {
    const ClassDef* sub = book.byName(*it);
    if (sub && sub != &def && sub->admits(user))
      answer += sub->name + F + sub->uid + kGroupEndDelim;
  }
  return answer + kCommandEndDelim;
}

std::string answerRequest(const ClassBook& book, std::string_view request,
                          const AnswerContext& context) {
  std::string word, body;
  if (!splitProtocolCommand(request, word, body)) return "ERROR: not a command";
  const bool byName = word == "GET_CLASS_READ_BY_NAME";
  if (!byName && word != "GET_CLASS_READ")
    return "ERROR: the class server answers GET_CLASS_READ_BY_NAME and GET_CLASS_READ only";
  const size_t at = body.find(kCommandWordDelim);
  if (at == std::string::npos) return "ERROR: a class command is: user, class";
  const std::string user = body.substr(0, at);
  const std::string key = body.substr(at + kDelimSize);
  const ClassDef* def = byName ? book.byName(key) : book.byUid(key);
  if (def == nullptr || !def->admits(user)) return kNoSuchClass;
  return classAnswer(book, *def, user, context);
}

}  // namespace classserver
