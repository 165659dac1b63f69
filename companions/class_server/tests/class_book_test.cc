/// @file class_book_test.cc
/// @brief The class file as an administrator writes it, the class server's
/// answers as the searches read them, and reading an edited file again.

#include "companions/class_server/class_book.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <string>
#include <vector>

#include "assemble/class_search.h"
#include "companions/class_server/class_file.h"
#include "system/delimiters.h"
#include "tests/test_util.h"

namespace classserver {
namespace {

const std::string kHost = "127.0.0.4";  // uid prefix 7F000004
const std::string F = kFieldDelim;
const std::string E = kGroupEndDelim;
const std::string OP = kCommandWordDelim;
const std::string END = kCommandEndDelim;

ClassBook parse(const std::string& text, std::vector<std::string>& problems) {
  return ClassBook::parse(text, kHost, problems);
}

std::string summary(const ClassDef& c) {
  std::string s = c.name + "/" + c.uid + ":";
  for (const ClassMember& m : c.members)
    s += " " + m.index + "=" + std::to_string(m.status);
  for (const std::string& sub : c.subclasses)
    s += " >" + sub;
  for (const std::string& u : c.users)
    s += " @" + u;
  return s;
}

TEST(ClassFileFormat, KeepsWhatIsRightAndNamesEveryLineThatIsNot) {
  const std::string text =
      "# comment\n"
      "uid = orphan\n"
      "[ Docs ]\r\n"
      "  uid = D1  \n"
      "index = 111111\n"
      "index = 7F000004_222222 1009\n"
      "index = 0A000005_333333\n"
      "index = ../etc\n"
      "index = 444444 two\n"
      "index = 444444 3 extra\n"
      "subclass = Manuals\n"
      "subclass = Nowhere\n"
      "users = alice  bob\n"
      "users =\n"
      "colour = blue\n"
      "just words\n"
      "[Manuals]\n"
      "uid = M1\n"
      "uid = M2\n"
      "index = 555555 2\n"
      "[Docs]\n"
      "uid = D2\n"
      "[Copy]\n"
      "uid = D1\n"
      "[]\n"
      "[" +
      std::string(256, 'n') +
      "]\n"
      "[Tab\there]\n"
      "[No uid]\n"
      "index = 111111\n";
  std::vector<std::string> problems;
  const ClassBook book = parse(text, problems);
  std::vector<std::string> got;
  for (const ClassDef& c : book.classes())
    got.push_back(summary(c));
  EXPECT_EQ(got,
            (std::vector<std::string>{"Docs/D1: 111111=0 222222=1009 >Manuals >Nowhere @alice @bob",
                                      "Manuals/M1: 555555=2"}));
  // Every refused line is named by its number.
  std::vector<std::string> lines;
  for (const std::string& p : problems)
    lines.push_back(p.substr(0, p.find(':')));
  EXPECT_EQ(lines, (std::vector<std::string>{"line 2", "line 7", "line 8", "line 9", "line 10",
                                             "line 14", "line 15", "line 16", "line 19", "line 21",
                                             "line 22", "line 24", "line 25", "line 26", "line 27",
                                             "line 23", "line 28", "line 3"}));
  EXPECT_NE(std::string::npos, problems.back().find("Nowhere")) << problems.back();
  ASSERT_NE(nullptr, book.byUid("M1"));
  EXPECT_EQ("Manuals", book.byUid("M1")->name);
  EXPECT_EQ(nullptr, book.byName("Copy"));
  EXPECT_EQ(nullptr, book.byName("No uid"));
}

TEST(ClassFileFormat, TheInstalledFileAndItsExampleReadWithoutProblems) {
  const std::string installed = testutil::readFile(SR_SOURCE_DIR "/site/setting/index_class.cfg");
  ASSERT_FALSE(installed.empty());
  std::vector<std::string> problems;
  EXPECT_TRUE(parse(installed, problems).classes().empty());
  EXPECT_TRUE(problems.empty());
  // The example, taken out of its comment.
  const std::string example = installed.substr(installed.find("# ["));
  std::string text;
  for (size_t at = 0; at < example.size();) {
    const size_t end = example.find('\n', at);
    text += example.substr(at + 2, end - at - 2) + "\n";
    at = end + 1;
  }
  const ClassBook book = parse(text, problems);
  EXPECT_TRUE(problems.empty()) << problems.front();
  ASSERT_EQ(2u, book.classes().size());
  EXPECT_EQ("Documentation/DOC: 123456=0 >Manuals", summary(book.classes()[0]));
  EXPECT_EQ("Manuals/MAN: 234567=0 345678=2 @alice @bob", summary(book.classes()[1]));
}

TEST(ClassFileFormat, OversizedFileOrAZeroByteInANameIsRefused) {
  std::vector<std::string> problems;
  const std::string zero = "[A]\nuid = 1\nindex = ab" + std::string(1, '\0') + "\x12\x14\x16\n";
  EXPECT_TRUE(parse(zero, problems).classes()[0].members.empty());
  EXPECT_EQ(1u, problems.size());
  problems.clear();
  const std::string big = "[A]\nuid = 1\n" + std::string(kMaxClassFileBytes, '#');
  EXPECT_TRUE(parse(big, problems).classes().empty());
  EXPECT_EQ(1u, problems.size());
}

class ClassAnswerTest : public ::testing::Test {
 protected:
  ClassAnswerTest() {
    context_.host = kHost;
    context_.queryPort = 20001;
    context_.lookup = [](const std::string& id, IndexInfo& info) {
      if (id == "999999") return false;  // no id file
      info = {"own" + id.substr(0, 1), "desc " + id, id == "333333" ? "db" : "doc"};
      return true;
    };
    std::vector<std::string> problems;
    book_ = ClassBook::parse(
        "[All]\nuid = A\nindex = 111111\nindex = 999999\nsubclass = Sub1\nsubclass = Sub2\n"
        "subclass = Private\n"
        "[Sub1]\nuid = S1\nindex = 222222 2\nindex = 111111 2\nsubclass = All\n"
        "[Sub2]\nuid = S2\nindex = 333333 1009\n"
        "[Private]\nuid = P\nusers = bob\nindex = 444444\n",
        kHost, problems);
    EXPECT_TRUE(problems.empty());
  }

  std::string ask(const std::string& word, const std::string& user, const std::string& key) {
    return answerRequest(book_, word + OP + user + OP + key + END, context_);
  }

  AnswerContext context_;
  ClassBook book_;
};

TEST_F(ClassAnswerTest, IndexesOfTheClassAndItsSubClassesEachOnce) {
  const std::string answer = ask("GET_CLASS_READ_BY_NAME", "alice", "All");
  EXPECT_EQ("127.0.0.4" + F + "own1" + F + "desc 111111" + F + "111111" + F + "20001" + F + "doc" +
                F + "0" + F + F + "7F000004_111111" + E +  //
                "127.0.0.4" + F + "own2" + F + "desc 222222" + F + "222222" + F + "20001" + F +
                "doc" + F + "2" + F + F + "7F000004_222222" + E +  //
                "127.0.0.4" + F + "own3" + F + "desc 333333" + F + "333333" + F + "20001" + F +
                "db" + F + "1009" + F + F + "7F000004_333333" + E +  //
                "127.0.0.4" + F + "own4" + F + "desc 444444" + F + "444444" + F + "20001" + F +
                "doc" + F + "0" + F + F + "7F000004_444444" + E + kValueDelim + "All" + F + "A" +
                E + "Sub2" + F + "S2" + E + "Sub1" + F + "S1" + E + END,
            answer);
  EXPECT_EQ(answer, ask("GET_CLASS_READ", "alice", "A"));
  // As the searches read it: the sub-classes in file order, the index of
  // status 2 left out.
  classSearchTag tag;
  EXPECT_EQ(3, tag.initialize(answer));
  EXPECT_EQ(
      "==CLASS==\nAll\tA\nSub1\tS1\nSub2\tS2\n==INDEX==\n"
      "127.0.0.4\town1\t111111\t7F000004_111111\n127.0.0.4\town3\t333333\t7F000004_333333\n"
      "127.0.0.4\town4\t444444\t7F000004_444444\n",
      tag.classInformationText());
  // Bob may see the private class too.
  EXPECT_NE(std::string::npos, ask("GET_CLASS_READ", "bob", "A").find("Private" + F + "P" + E));
}

TEST_F(ClassAnswerTest, UnknownClassesUsersAndCommands) {
  for (const auto& [word, user, key] : std::vector<std::array<std::string, 3>>{
           {"GET_CLASS_READ_BY_NAME", "alice", "Nope"},
           {"GET_CLASS_READ_BY_NAME", "alice", "A"},  // a uid is no name
           {"GET_CLASS_READ", "alice", "All"},
           {"GET_CLASS_READ_BY_NAME", "alice", "Private"},
           {"GET_CLASS_READ", "", "P"}}) {
    EXPECT_EQ("Can't find class", ask(word, user, key)) << word << " " << user << " " << key;
  }
  EXPECT_EQ(0u, ask("GET_CLASS_READ", "bob", "P").find("127.0.0.4" + F + "own4"));
  for (const std::string& request :
       {"get_all_index_path" + OP + END, "GET_CLASS_WRITE" + OP + "alice" + END,
        "GET_CLASS_READ" + OP + "alice" + END, std::string("GET_CLASS_READ alice All"),
        "GET_CLASS_READ" + OP + "alice" + OP + "All"}) {
    EXPECT_EQ(0u, answerRequest(book_, request, context_).find("ERROR")) << request;
  }
}

TEST(ClassFileReading, AnEditIsReadWithoutARestart) {
  testutil::TempDir dir;
  const std::string path = dir.sub("index_class.cfg");
  std::vector<std::string> log;
  ClassFile file(path, kHost, [&](const std::string& line) { log.push_back(line); });
  EXPECT_TRUE(file.current()->classes().empty());
  EXPECT_EQ(1u, log.size());

  testutil::writeFile(path, "[A]\nuid = 1\n");
  const auto first = file.current();
  EXPECT_EQ(1u, first->classes().size());
  EXPECT_EQ(first, file.current());  // unchanged: not read again

  // The same size and second: only the nanoseconds tell the edit.
  testutil::writeFile(path, "[B]\nuid = 2\n");
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  timespec times[2] = {st.st_mtim, st.st_mtim};
  times[1].tv_nsec = (times[1].tv_nsec + 1) % 1000000000;
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
  ASSERT_NE(nullptr, file.current()->byName("B"));

  testutil::writeFile(path, "[B]\nuid = 2\n[C]\nuid = 2\n");
  EXPECT_EQ(1u, file.current()->classes().size());
  EXPECT_NE(std::string::npos, log.back().find("1 classes"));
  EXPECT_NE(std::string::npos, log[log.size() - 3].find("line 4: the uid 2 belongs to B"));
}

}  // namespace
}  // namespace classserver
