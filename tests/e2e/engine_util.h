/// @file engine_util.h
/// @brief Helpers of the search engine tests: an installation with indexes
/// built by the installed index builder, runs of the installed search
/// programs, and a reader of their result files.

#ifndef SEARCHRUN_TESTS_E2E_ENGINE_UTIL_H
#define SEARCHRUN_TESTS_E2E_ENGINE_UTIL_H

#include <sys/stat.h>
#include <utime.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_util.h"

namespace enginetest {

struct Hit {
  uint32_t score;
  uint32_t recid;
};

struct Result {
  bool ok = false;  // the file could be decoded completely
  std::string matched;
  std::vector<Hit> hits;

  std::vector<uint32_t> ids() const {
    std::vector<uint32_t> out;
    for (const Hit& h : hits)
      out.push_back(h.recid);
    return out;
  }
  std::set<uint32_t> idSet() const {
    auto v = ids();
    return {v.begin(), v.end()};
  }
};

// Decodes a binout file with the text header as the back-end reads it.
inline Result decodeBinout(const std::string& bytes) {
  Result r;
  size_t nl = bytes.find('\n');
  if (bytes.empty() || bytes[0] == '\0' || nl == std::string::npos) return r;
  r.matched = bytes.substr(0, nl);
  size_t pos = nl + 1;
  auto next = [&](uint32_t& v) {
    v = 0;
    for (int shift = 0; pos < bytes.size() && shift < 35; shift += 7) {
      auto c = static_cast<unsigned char>(bytes[pos++]);
      v |= static_cast<uint32_t>(c & 0x7F) << shift;
      if (!(c & 0x80)) return true;
    }
    return false;
  };
  uint32_t count;
  if (!next(count)) return r;
  for (uint32_t i = 0; i < count; ++i) {
    Hit h;
    if (!next(h.score) || !next(h.recid)) return r;
    r.hits.push_back(h);
  }
  r.ok = pos == bytes.size();
  return r;
}

// 32-bit integers of a list file.
inline std::vector<uint32_t> readUInt32s(const std::string& bytes) {
  std::vector<uint32_t> out(bytes.size() / 4);
  for (size_t i = 0; i < out.size(); ++i)
    std::memcpy(&out[i], bytes.data() + 4 * i, 4);
  return out;
}

// The text of record r (from 1) of a morna text list and its _index file.
inline std::string listText(const std::string& texts, const std::string& index, uint32_t r) {
  std::vector<uint32_t> ends = readUInt32s(index);
  if (r < 1 || r > ends.size()) return "<none>";
  uint32_t begin = r == 1 ? 0 : ends[r - 2];
  return texts.substr(begin, ends[r - 1] - begin);
}

inline void setMtime(const std::string& path, time_t t) {
  struct utimbuf times {
    t, t
  };
  utime(path.c_str(), &times);
}

// An installation whose indexes are built from documents written below
// ROOT/docs/<name>.
class EngineInstall : public e2e::Installation {
 public:
  // Writes a document and gives it a fixed modification time.
  void doc(const std::string& set, const std::string& rel, const std::string& bytes,
           time_t mtime = 1100000000) const {
    write("docs/" + set + "/" + rel, bytes);
    setMtime(path("docs/" + set + "/" + rel), mtime);
  }
  std::string docs(const std::string& set) const { return path("docs/" + set); }

  e2e::RunResult builder(const std::vector<std::string>& args) const {
    return run("binind/index_builder", args);
  }
  // Builds an index for owner alice with the given id; the test fails when
  // the builder does.
  std::string create(const std::string& id, const std::string& set) const {
    e2e::RunResult r = builder({"create", "--owner", "alice", "--id", id, docs(set)});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, id + "\n");
    return home(id);
  }
  std::string home(const std::string& id) const {
    return path("system/group/domain/User/alice/index/" + id);
  }

  // Runs a program of binind whose result file is written at the path that
  // follows `outSwitch`; returns its exit status and the file.
  int runFor(const std::string& program, std::vector<std::string> args,
             const std::string& outSwitch, std::string& file) const {
    std::string out = path("search-cgi/tmp/result" + std::to_string(++runs_));
    args.insert(args.begin(), {outSwitch, out});
    e2e::RunResult r = run("binind/" + program, args);
    file = read("search-cgi/tmp/result" + std::to_string(runs_));
    return r.exitStatus;
  }

  // The engine as the back-end runs it: vela25_0.exe -H HOME -binout -o OUT
  // followed by the words of the option string.
  Result search(const std::string& home, std::vector<std::string> options) const {
    options.insert(options.begin(), {"-H", home, "-binout"});
    std::string file;
    int rc = runFor("vela25_0.exe", options, "-o", file);
    EXPECT_EQ(rc, 0);
    return decodeBinout(file);
  }
  // A plain exact search for a query.
  Result query(const std::string& home, const std::string& q) const {
    return search(home, {"-B0", "-bm", "-s -i -F60", q});
  }

 private:
  mutable int runs_ = 0;
};

}  // namespace enginetest

#endif  // SEARCHRUN_TESTS_E2E_ENGINE_UTIL_H
