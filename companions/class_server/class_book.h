/// @file class_book.h
/// @brief The classes of indexes of an installation, as its administrator
/// writes them in ROOT/setting/index_class.cfg, and the answers of the class
/// server to the two class commands.
///
/// The file, line by line (blanks around every item are ignored; "#" begins
/// a comment line):
///
///   [NAME]                 begins the class NAME (what class_name= names)
///   uid = ID               its unique id (what class_uid= names); required
///   index = REF [STATUS]   a member: an index id ("123456") or an index uid
///                          of this host ("7F000001_123456"); STATUS is the
///                          index status the searches see, 0 by default
///                          (0, 1, 3 and 1009 are searched, any other keeps
///                          the index in the class but out of its searches)
///   subclass = NAME        a class whose indexes this class holds as well
///   users = NAME ...       who may search the class (blank separated);
///                          everyone when the line is missing, or "*"
///
/// Names and ids are 1 to 255 bytes without control characters, unique over
/// the file. A line that breaks a rule is reported and left out; the rest of
/// the file still counts.

#ifndef SEARCHRUN_COMPANIONS_CLASS_SERVER_CLASS_BOOK_H
#define SEARCHRUN_COMPANIONS_CLASS_SERVER_CLASS_BOOK_H

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace classserver {

// Limits of what one file may hold.
constexpr size_t kMaxClassFileBytes = 1u << 20;
constexpr size_t kMaxClassText = 255;
constexpr size_t kMaxClasses = 10000;
constexpr size_t kMaxMembers = 1000;  // indexes and sub-classes of one class

struct ClassMember {
  std::string index;  // index id on this host
  int status = 0;
};

struct ClassDef {
  std::string name;
  std::string uid;
  std::vector<ClassMember> members;
  std::vector<std::string> subclasses;
  std::vector<std::string> users;  // empty or holding "*": everyone
  int line = 0;                    // where the class begins

  bool admits(const std::string& user) const;
};

class ClassBook {
 public:
  // Reads the text of a class file; every line that breaks a rule is noted
  // in `problems` ("line N: ...") and left out. `thisHost` is the dotted
  // address that index uids must name.
  static ClassBook parse(std::string_view text, const std::string& thisHost,
                         std::vector<std::string>& problems);

  const std::vector<ClassDef>& classes() const { return classes_; }
  const ClassDef* byName(const std::string& name) const;
  const ClassDef* byUid(const std::string& uid) const;

 private:
  std::vector<ClassDef> classes_;
  std::map<std::string, size_t> byName_, byUid_;
};

// What an index id file says of an index.
struct IndexInfo {
  std::string owner;
  std::string desc;
  std::string type;
};
// Fills `info` for the index id of this host; false when it is unknown.
using IndexLookup = std::function<bool(const std::string& id, IndexInfo& info)>;

struct AnswerContext {
  std::string host;       // this host's address, in every index record
  int queryPort = 20001;  // its query server port
  IndexLookup lookup;
};

// The answer to the class `def`: the indexes of the class and (depth first,
// each once) of its sub-classes that the lookup knows, in file order; the
// class itself, then its sub-classes that `user` may search, ordered so that
// a reader who places each class after the first shows them in file order.
std::string classAnswer(const ClassBook& book, const ClassDef& def, const std::string& user,
                        const AnswerContext& context);

// The answer to one request: the class commands by name and by id; an
// unknown class, or one the user may not search, gives "Can't find class";
// every other command an error text.
std::string answerRequest(const ClassBook& book, std::string_view request,
                          const AnswerContext& context);

}  // namespace classserver

#endif  // SEARCHRUN_COMPANIONS_CLASS_SERVER_CLASS_BOOK_H
