/// @file engine_util.h
/// @brief The installation of the search engine tests: indexes built by the
/// installed index builder from documents written below ROOT/docs/<set>.

#ifndef SEARCHRUN_TESTS_E2E_ENGINE_UTIL_H
#define SEARCHRUN_TESTS_E2E_ENGINE_UTIL_H

#include <utime.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_util.h"

namespace enginetest {

class EngineInstall : public e2e::Installation {
 public:
  void doc(const std::string& set, const std::string& rel, const std::string& bytes,
           time_t mtime = 1100000000) const {
    write("docs/" + set + "/" + rel, bytes);
    struct utimbuf times {
      mtime, mtime
    };
    utime(path("docs/" + set + "/" + rel).c_str(), &times);
  }
  std::string docs(const std::string& set) const { return path("docs/" + set); }
  std::string home(const std::string& id) const {
    return path("system/group/domain/User/alice/index/" + id);
  }
  e2e::RunResult builder(const std::vector<std::string>& args) const {
    return run("binind/index_builder", args);
  }
  // Builds index `id` of owner alice from a document set; returns its home.
  std::string create(const std::string& id, const std::string& set) const {
    e2e::RunResult r = builder({"create", "--owner", "alice", "--id", id, docs(set)});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, id + "\n");
    return home(id);
  }
};

}  // namespace enginetest

#endif  // SEARCHRUN_TESTS_E2E_ENGINE_UTIL_H
