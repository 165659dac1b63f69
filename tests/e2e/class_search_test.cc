/// @file class_search_test.cc
/// @brief Searches by class in an installation whose host is 127.0.0.4: the
/// installed class server names the indexes of a class, searchrun searches
/// them and hands the class to the renderer; every way a class search fails.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "output/query_output.h"
#include "system/delimiters.h"
#include "system/net_exchange.h"
#include "tests/e2e/engine_util.h"

namespace {

namespace fs = std::filesystem;
using enginetest::EngineInstall;

constexpr const char* kHost = "127.0.0.4";

// What one search left in ../tmp.
struct Result {
  e2e::RunResult run;
  std::string url;
  std::set<std::string> indexes;  // of the hits
  std::string classFile;
};

class ClassSearchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new EngineInstall();
    inst_->write("host_address", std::string(kHost) + "\n");
    for (const char* id : {"cl1", "cl2", "cl3", "cl4"}) {
      inst_->doc(id, "a.txt", std::string("x marks the spot in ") + id + "\n");
      inst_->create(id, id);
    }
    inst_->write("setting/index_class.cfg",
                 "[Docs]\nuid = D1\nindex = cl1\nsubclass = Sub\nsubclass = Old\n"
                 "[Sub]\nuid = S1\nindex = 7F000004_cl2\n"
                 "[Old]\nuid = O1\nindex = cl4 2\n");
    port_ = testutil::freePort(kHost);
    ASSERT_GT(port_, 0);
    inst_->write("setting/db_interface.num", std::to_string(port_) + "\n");
    server_ = enginetest::startClassServer(*inst_, {"--root", inst_->root()}, kHost,
                                           static_cast<uint16_t>(port_));
  }
  static void TearDownTestSuite() {
    kill(server_, SIGTERM);
    EXPECT_EQ(0, enginetest::waitWithin(server_, 30)) << inst_->read("class_server.log");
    delete inst_;
  }

  void SetUp() override {
    inst_->setKey("setting/search_option.cfg", "MAX_SEARCH_INDEX_COUNT", "20");
  }

  // A search for "spot" of TESSERA over every index selected by `rest`.
  static Result search(const std::string& rest, bool xml = true) {
    Result result;
    const std::set<std::string> before = inst_->resultFiles();
    result.run =
        inst_->get("user=TESSERA&search_no=0&query=spot" + std::string(xml ? "&xml=1" : "") + rest);
    const std::string base = inst_->newResult(before);
    if (base.empty()) return result;
    CQueryOutput file;
    EXPECT_TRUE(file.ReadOutputFile(base));
    result.url = file.GetQueryURL();
    std::vector<e2e::ResultHit> hits;
    EXPECT_TRUE(e2e::resultHits(base, hits));
    for (const e2e::ResultHit& h : hits)
      result.indexes.insert(h.index);
    result.classFile = testutil::readFile(base + "_class");
    return result;
  }

  // Expects the message page of `number` and exit status 1.
  static void expectMessage(const e2e::RunResult& r, const std::string& number) {
    EXPECT_EQ(1, r.exitStatus) << r.out;
    EXPECT_NE(std::string::npos, r.out.find(e2e::messageText(*inst_, number))) << r.out;
  }

  // Points searches at a port where no class server listens, for one scope.
  struct ServerAway {
    ServerAway() {
      inst_->write("setting/db_interface.num", std::to_string(testutil::freePort(kHost)) + "\n");
    }
    ~ServerAway() { inst_->write("setting/db_interface.num", std::to_string(port_) + "\n"); }
  };

  static inline EngineInstall* inst_ = nullptr;
  static inline pid_t server_ = -1;
  static inline int port_ = 0;
};

TEST_F(ClassSearchTest, AClassSearchesItsIndexesAndTheFollowUpPagesToo) {
  const Result r = search("&index_id=7F000004_cl3&class_name=Docs");
  ASSERT_EQ(0, r.run.exitStatus) << r.run.out;
  EXPECT_EQ(r.indexes, (std::set<std::string>{"cl1", "cl2"}));
  EXPECT_EQ(
      "user=TESSERA&search_no=0&query=spot&xml=1&class_name=Docs"
      "&index_id=7F000004_cl1&index_id=7F000004_cl2",
      r.url);
  EXPECT_EQ(
      "==CLASS==\nDocs\tD1\nSub\tS1\nOld\tO1\n==INDEX==\n"
      "127.0.0.4\talice\tcl1\t7F000004_cl1\n127.0.0.4\talice\tcl2\t7F000004_cl2\n",
      r.classFile);

  // By id, the sub-class alone; the name wins over the id.
  EXPECT_EQ(search("&class_uid=S1").indexes, (std::set<std::string>{"cl2"}));
  EXPECT_EQ(search("&class_uid=S1&class_name=Old").indexes, (std::set<std::string>{}));

  // The page names the class searched and leads to the others.
  const Result page = search("&class_name=Docs", false);
  const std::string& html = page.run.out;
  const size_t classes = html.find("id=\"classes\"");
  ASSERT_NE(std::string::npos, classes) << html;
  EXPECT_NE(std::string::npos, html.find("class <b>Docs</b>")) << html;
  EXPECT_NE(std::string::npos, html.find("class_uid=S1\">Sub</a>", classes)) << html;

  // An edited class file counts at once.
  const std::string file = inst_->read("setting/index_class.cfg");
  inst_->write("setting/index_class.cfg", file + "index = cl3\n");  // joins Old
  EXPECT_EQ(search("&class_name=Old").indexes, (std::set<std::string>{"cl3"}));
  inst_->write("setting/index_class.cfg", file);
  EXPECT_EQ(search("&class_name=Old").indexes, (std::set<std::string>{}));
}

TEST_F(ClassSearchTest, FailuresEndTheRequestWithTheirMessage) {
  expectMessage(search("&class_name=Nothing").run, "0047");
  expectMessage(search("&class_name=Docs%04%05%06x").run, "0047");
  ServerAway away;
  expectMessage(search("&class_name=Docs").run, "0005");
  // Without a class the server is never asked.
  const Result none = search("&class_name=NONE_CLASS_SEARCH&index_id=7F000004_cl3");
  EXPECT_EQ(0, none.run.exitStatus) << none.run.out;
  EXPECT_EQ(none.indexes, (std::set<std::string>{"cl3"}));
  EXPECT_EQ("", none.classFile);
}

TEST_F(ClassSearchTest, TheServerAnswersNothingButTheClassCommands) {
  std::string answer;
  const std::string OP = kCommandWordDelim, END = kCommandEndDelim;
  ASSERT_EQ(0,
            getData(kHost, static_cast<uint16_t>(port_), "get_all_index_path" + OP + END, answer));
  EXPECT_EQ(0u, answer.find("ERROR")) << answer;
  ASSERT_EQ(0, getData(kHost, static_cast<uint16_t>(port_),
                       "GET_CLASS_READ_BY_NAME" + OP + "bob" + OP + "Docs" + END + "more", answer));
  EXPECT_EQ("", answer);  // bytes after the end mark: no command
  EXPECT_EQ(0, inst_->run("binind/class_server", {"--help"}).exitStatus);
}

}  // namespace
