/// @file search_test_util.h
/// @brief Builders for the search tests: result block bytes, engine result
/// files, result sets and the list files of an index.

#ifndef SEARCHRUN_TESTS_SEARCH_SEARCH_TEST_UTIL_H
#define SEARCHRUN_TESTS_SEARCH_SEARCH_TEST_UTIL_H

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "search/uint7.h"
#include "search/vela_command.h"
#include "search/vela_out.h"
#include "system/clock.h"
#include "system/layout.h"
#include "tests/test_util.h"

namespace searchtest {

struct Hit {
  uint32_t score;
  uint32_t recid;
};

// The field, end and value delimiters of a result block.
inline const std::string FD("\x12\x13\x14", 3), END("\x15\x16\x17", 3), VD("\x12\x14\x16", 3);

inline std::string coded(uint32_t value) {
  std::string out;
  g_addUInt_7U(value, out);
  return out;
}

inline std::string pairBytes(const std::vector<Hit>& hits) {
  std::string out;
  for (const Hit& h : hits)
    out += coded(h.score) + coded(h.recid);
  return out;
}

inline std::string numberKeys(const std::vector<uint32_t>& values) {
  std::string out;
  for (uint32_t v : values)
    out += coded(v);
  return out;
}

inline std::string textKeys(const std::vector<std::string>& values) {
  std::string out;
  for (const std::string& v : values)
    out += v + VD;
  return out;
}

// One result section: n FD pairs FD L FD keys END.
inline std::string sectionBytes(const std::vector<Hit>& hits, const std::string& keys) {
  return std::to_string(hits.size()) + FD + pairBytes(hits) + FD + std::to_string(keys.size() + 3) +
         FD + keys + END;
}

// 32-bit host-order integers back to back.
inline std::string u32s(const std::vector<uint32_t>& values) {
  std::string out(values.size() * 4, '\0');
  if (!values.empty()) std::memcpy(&out[0], values.data(), out.size());
  return out;
}

// A binout file with a text header.
inline std::string binoutFile(const std::string& matched, const std::vector<Hit>& hits) {
  return matched + "\n" + coded(static_cast<uint32_t>(hits.size())) + pairBytes(hits);
}

// A result set holding `hits`, all selected.
inline VelaOutPtr makeSet(const std::vector<Hit>& hits) {
  VelaOutPtr set(VelaOut::initAlloc(static_cast<int>(hits.size())));
  set->m_match_count = set->m_output_count = static_cast<int32_t>(hits.size());
  set->m_matched_str[0] = '\0';
  for (size_t i = 0; i < hits.size(); ++i)
    set->m_rec[i] = {static_cast<int32_t>(hits[i].recid), static_cast<int32_t>(hits[i].score), 1};
  return set;
}

// The texts back to back in `textsPath`, their end offsets in `offsetsPath`.
inline void writeTexts(const std::string& textsPath, const std::string& offsetsPath,
                       const std::vector<std::string>& texts) {
  std::string all;
  std::vector<uint32_t> ends;
  for (const std::string& t : texts)
    ends.push_back(static_cast<uint32_t>((all += t).size()));
  testutil::writeFile(textsPath, all);
  testutil::writeFile(offsetsPath, u32s(ends));
}

inline void writeTextList(const std::string& dir, const std::string& name,
                          const std::vector<std::string>& texts) {
  writeTexts(dir + "/" + name, dir + "/" + name + "_index", texts);
}

// An installation in a temporary directory, run from its search-cgi, with
// the index "news" of the user "alice".
class InstallTest : public ::testing::Test {
 protected:
  InstallTest() : cgi_(testutil::makeInstallSkeleton(root_.path())), cwd_(cgi_) {
    testutil::writeFile(root_.sub("setting/system_info.cfg"),
                        "SYSTEM_DIRECTORY=" + root_.sub("sys") + "\nDOMAIN_NAME=dom\n");
    testutil::makeDirs(home("news"));
    systemResetCaches();
  }
  ~InstallTest() override { systemResetCaches(); }

  std::string home(const std::string& index) const {
    return root_.sub("sys/group/dom/User/alice/index/" + index);
  }
  void installProgram(const std::string& name, const std::string& script) {
    testutil::writeFile(root_.sub("binind/" + name), script);
    ::chmod(root_.sub("binind/" + name).c_str(), 0755);
  }

  testutil::TempDir root_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
};

// With a stand-in token expander that records its arguments and prints what
// the test asks.
class CommandTest : public searchtest::InstallTest {
 protected:
  ~CommandTest() override { setTimeSourceForTests(nullptr); }
  void installExpander(const std::string& output) {
    installProgram("expand_vela_token_list.exe", "#!/bin/sh\nprintf '%s\\n' \"$@\" > " +
                                                     root_.sub("expander.args") + "\nprintf '" +
                                                     output + "'\n");
  }
  std::string termFileFor(const std::string& query) {
    std::string rewritten, termFile;
    const std::string option = " -B0 -bm \"-s -i -F60\" '" + query + "' ";
    EXPECT_TRUE(builder_.getQueryTermFile(option.c_str(), rewritten, termFile));
    return termFile;
  }

  const std::string home_ = home("news"), tmp_ = root_.sub("search-cgi/tmp/");
  VelaCommand builder_;
};

}  // namespace searchtest

#endif  // SEARCHRUN_TESTS_SEARCH_SEARCH_TEST_UTIL_H
