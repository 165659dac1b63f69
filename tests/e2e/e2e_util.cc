/// @file e2e_util.cc
/// @brief Installs the build tree into a temporary root and runs its programs.

#include "tests/e2e/e2e_util.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "output/query_output.h"
#include "search/index_lists.h"
#include "tests/process_run.h"

namespace e2e {

RunResult runProgram(const std::string& path, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env, const std::string& cwd,
                     const std::string& input) {
  testutil::ProcessSpec spec;
  spec.path = path;
  spec.args = args;
  for (const auto& [k, v] : env)
    spec.env.push_back(k + "=" + v);
  if (!env.count("PATH")) spec.env.push_back("PATH=/usr/bin:/bin");
  spec.cwd = cwd;
  spec.input = input;
  testutil::ProcessResult run = testutil::runProcess(spec);
  RunResult r;
  r.exitStatus = run.exitStatus;
  r.out = std::move(run.out);
  r.err = std::move(run.err);
  r.maxRssKb = run.maxRssKb;
  return r;
}

Installation::Installation() {
  RunResult r = runProgram(SR_CMAKE_COMMAND, {"--install", SR_BINARY_DIR, "--prefix", root()}, {},
                           root(), "");
  if (r.exitStatus != 0) {
    std::cerr << "cmake --install failed:\n" << r.out << r.err;
    std::abort();
  }
  // The suite runs once as installed (searchrun hands its requests to the
  // service's workers and its engine runs to the service) and once with
  // every run a program of its own.
  if (const char* mode = std::getenv(kEngineRunsVariable)) {
    setKey(kEngineServiceSettings, "EXCHANGE", mode);
    if (std::string(mode) == "no") setKey(kEngineServiceSettings, "FRONT_WORKERS", "0");
  }
}

void Installation::write(const std::string& rel, const std::string& bytes) const {
  testutil::writeFile(path(rel), bytes);
}

std::string Installation::read(const std::string& rel) const {
  return testutil::readFile(path(rel));
}

std::set<std::string> Installation::resultFiles() const {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path("tmp"))) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("query", 0) == 0 && name.find_first_not_of("0123456789", 5) == std::string::npos)
      names.insert(name);
  }
  return names;
}

std::string Installation::newResult(const std::set<std::string>& before) const {
  std::string newest;
  for (const std::string& name : resultFiles())
    if (!before.count(name)) newest = path("tmp/" + name);
  return newest;
}

std::string Installation::permit(const std::string& user) const {
  const RunResult r = run("search-cgi/ks_permit", {"create", "--user", user});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(0u, r.out.find("ks_key=")) << r.out;
  std::string key = r.out.substr(r.out.find('=') + 1);
  key.erase(key.find_last_not_of("\r\n") + 1);
  return key;
}

std::string Installation::buildIndex(const std::vector<std::string>& args) const {
  const RunResult r = run("binind/index_builder", args);
  EXPECT_EQ(0, r.exitStatus) << r.err;
  return r.out.substr(0, r.out.find_first_of("\r\n"));
}

std::map<std::string, std::string> Installation::buildStatus(const std::string& id) const {
  const RunResult r = run("binind/build_status", {"--id", id});
  EXPECT_EQ(0, r.exitStatus) << r.err;
  std::map<std::string, std::string> fields;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    const size_t colon = line.find(": ");
    if (colon != std::string::npos) fields[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return fields;
}

void Installation::setKey(const std::string& rel, const std::string& key,
                          const std::string& value) const {
  std::istringstream in(read(rel));
  std::string line, result;
  bool done = false;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size() + 1, key + "=") == 0) {
      if (done) continue;
      line = key + "=" + value;
      done = true;
    }
    result += line + "\n";
  }
  if (!done) result += key + "=" + value + "\n";
  write(rel, result);
}

RunResult Installation::run(const std::string& program, const std::vector<std::string>& args,
                            const std::map<std::string, std::string>& env,
                            const std::string& input) const {
  return runProgram(path(program), args, env, cgiDir(), input);
}

RunResult Installation::getFrom(const std::string& program, const std::string& queryString,
                                std::map<std::string, std::string> env) const {
  env.emplace("REQUEST_METHOD", "GET");
  env.emplace("QUERY_STRING", queryString);
  return run(program, {}, env);
}

RunResult Installation::get(const std::string& queryString,
                            const std::map<std::string, std::string>& extraEnv) const {
  return getFrom("search-cgi/searchrun", queryString, extraEnv);
}

RunResult Installation::getPage(const std::string& queryString,
                                const std::map<std::string, std::string>& extraEnv) const {
  return getFrom("search-cgi/getfilelist.exe", queryString, extraEnv);
}

RunResult Installation::post(const std::string& body,
                             const std::map<std::string, std::string>& extraEnv,
                             const std::string& contentLength) const {
  std::map<std::string, std::string> env = extraEnv;
  env.emplace("REQUEST_METHOD", "POST");
  env.emplace("CONTENT_LENGTH",
              contentLength.empty() ? std::to_string(body.size()) : contentLength);
  return run("search-cgi/searchrun", {}, env, body);
}

bool resultHits(const std::string& path, std::vector<ResultHit>& hits) {
  CQueryOutput file;
  if (path.empty() || !file.ReadOutputFile(path.c_str())) return false;
  hits.clear();
  const std::string delim = "\x12\x13\x14";
  for (int i = 0; i < file.GetMatchCount(); ++i) {
    const std::string line = file.GetRecordData(i);
    std::vector<std::string> f;
    for (size_t start = 0, at;; start = at + delim.size()) {
      at = line.find(delim, start);
      f.push_back(line.substr(start, at == std::string::npos ? at : at - start));
      if (at == std::string::npos) break;
    }
    if (f.size() != 5) return false;
    hits.push_back({f[0], f[1], f[2], std::stoi(f[3]), static_cast<unsigned>(std::stoul(f[4]))});
  }
  return true;
}

bool resultRecordIds(const std::string& path, std::vector<unsigned>& ids) {
  std::vector<ResultHit> hits;
  if (!resultHits(path, hits)) return false;
  ids.clear();
  for (const ResultHit& h : hits)
    ids.push_back(h.recid);
  return true;
}

std::string recordName(const std::string& home, unsigned recid) {
  const std::string log = testutil::readFile(home + "/.vela_log_1");
  uint32_t orgCount = 0;
  if (log.size() >= 4) std::memcpy(&orgCount, log.data(), 4);
  const bool inc = recid > orgCount;
  TextListReader names;
  if (names.load(inc ? home + "_inc" : home, kFileNameList) != kListOk) return "?";
  return std::string(names.text(inc ? recid - orgCount : recid));
}

std::string messageText(const Installation& inst, const std::string& number) {
  const std::string table = inst.read("setting/ts_cgi_msg_table.cfg");
  const std::string key = number + "\t";
  const size_t at = table.find(key);
  if (at == std::string::npos) return "";
  const size_t end = table.find('\n', at);
  return table.substr(at + key.size(), end - at - key.size());
}

}  // namespace e2e
