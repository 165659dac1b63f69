/// @file fuzz_class_file.cc
/// @brief A class file of arbitrary bytes, and one class command asked of
/// it: the classes kept keep the file's rules, and every answer is one the
/// searches can read whole or the plain refusal.
///
/// The input is the class file, then (after the first "\n%") a class name
/// asked for by name and by id.

#include <string>
#include <vector>

#include "assemble/class_search.h"
#include "companions/class_server/class_book.h"
#include "system/delimiters.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t cut = input.find("\n%");
  const std::string file = input.substr(0, cut);
  const std::string key = cut == std::string::npos ? "A" : input.substr(cut + 2);
  std::vector<std::string> problems;
  const classserver::ClassBook book = classserver::ClassBook::parse(file, "127.0.0.4", problems);
  check(book.classes().size() <= classserver::kMaxClasses);
  for (const classserver::ClassDef& c : book.classes()) {
    check(!c.uid.empty() && c.name.size() <= classserver::kMaxClassText);
    check(book.byName(c.name) == &c && book.byUid(c.uid) == &c);
    check(c.members.size() + c.subclasses.size() <= classserver::kMaxMembers);
  }

  classserver::AnswerContext context;
  context.host = "127.0.0.4";
  context.lookup = [](const std::string& id, classserver::IndexInfo& info) {
    info = {"owner", "desc " + id, "doc"};
    return true;
  };
  const std::string OP = kCommandWordDelim;
  for (const char* word : {"GET_CLASS_READ_BY_NAME", "GET_CLASS_READ"}) {
    const std::string answer =
        classserver::answerRequest(book, word + OP + "u" + OP + key + kCommandEndDelim, context);
    if (answer == "Can't find class" || answer.rfind("ERROR", 0) == 0) continue;
    classSearchTag tag;
    const int count = tag.initialize(answer);
    // The class asked for comes first, and every class named is one of the
    // file's, read back whole.
    check(count == static_cast<int>(tag.indexes().size()) && !tag.classes().empty());
    const classserver::ClassDef* first = book.byName(tag.classes()[0].getClassName());
    check(first && (first->name == key || first->uid == key));
    for (const classClassNode& c : tag.classes()) {
      const classserver::ClassDef* def = book.byName(c.getClassName());
      check(def && def->uid == c.getClassUnique());
    }
  }
  return 0;
}
