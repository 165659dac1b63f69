/// @file e2e_util.h
/// @brief Harness of the end-to-end tests: a real installation in a temporary
/// directory, and runs of its programs with a chosen environment.

#ifndef SEARCHRUN_TESTS_E2E_E2E_UTIL_H
#define SEARCHRUN_TESTS_E2E_E2E_UTIL_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace e2e {

struct RunResult {
  int exitStatus = -1;  // exit code, or 128 + signal number when killed
  std::string out;      // standard output
  std::string err;      // standard error
  long maxRssKb = 0;    // the child's peak resident memory
};

// An installation root laid out by `cmake --install` of the build tree.
// Set to "no", every installation of the run has its searches start each
// engine program rather than hand the runs to the engine service.
constexpr const char* kEngineRunsVariable = "SEARCHRUN_E2E_EXCHANGE";
constexpr const char* kEngineServiceSettings = "setting/engine_service.cfg";

class Installation {
 public:
  Installation();  // installs; aborts the test program when install fails
  const std::string& root() const { return dir_.path(); }
  std::string cgiDir() const { return root() + "/search-cgi"; }
  std::string path(const std::string& rel) const { return root() + "/" + rel; }

  // Writes a file below the root, creating missing directories.
  void write(const std::string& rel, const std::string& bytes) const;
  std::string read(const std::string& rel) const;
  // Sets KEY=value in a key=value settings file below the root (replacing an
  // existing line of that key, appending otherwise).
  void setKey(const std::string& rel, const std::string& key, const std::string& value) const;
  // The names of the result files ("query" and digits) in its tmp folder.
  std::set<std::string> resultFiles() const;
  // The path of a result not among `before` (the last by name); "" for none.
  std::string newResult(const std::set<std::string>& before) const;
  // The key of a new permit of `user`, made by the installed ks_permit.
  std::string permit(const std::string& user) const;
  // Runs the installed index builder, expecting it to succeed; the id it printed.
  std::string buildIndex(const std::vector<std::string>& args) const;
  // The "name: value" lines of the installed build_status for index `id`.
  std::map<std::string, std::string> buildStatus(const std::string& id) const;

  // Runs ROOT/<program> (relative to the root, e.g. "search-cgi/searchrun")
  // with cwd = the CGI directory, exactly the environment given (plus PATH),
  // and `input` on standard input.
  RunResult run(const std::string& program, const std::vector<std::string>& args,
                const std::map<std::string, std::string>& env = {},
                const std::string& input = "") const;

  // A GET request through the installed searchrun.
  RunResult get(const std::string& queryString,
                const std::map<std::string, std::string>& extraEnv = {}) const;
  // A GET request through the installed renderer, as a link between pages.
  RunResult getPage(const std::string& queryString,
                    const std::map<std::string, std::string>& extraEnv = {}) const;
  // A POST request through the installed searchrun.
  RunResult post(const std::string& body, const std::map<std::string, std::string>& extraEnv = {},
                 const std::string& contentLength = "") const;

 private:
  RunResult getFrom(const std::string& program, const std::string& queryString,
                    std::map<std::string, std::string> env) const;

  testutil::TempDir dir_;
};

// The text of message `number` in the installation's message table; "" when
// it has none.
std::string messageText(const Installation& inst, const std::string& number);

// The record ids of the hits of result file `path`, in result order; false
// when it cannot be read.
bool resultRecordIds(const std::string& path, std::vector<unsigned>& ids);

// One hit of a result file.
struct ResultHit {
  std::string host, owner, index;
  int score = 0;
  unsigned recid = 0;
};
// The hits of result file `path`, in result order; false when it cannot be
// read or a line is not that of a hit.
bool resultHits(const std::string& path, std::vector<ResultHit>& hits);
// The name index `home` lists for record `recid`: records past the count of
// its org index are its inc index's. "?" when it lists none.
std::string recordName(const std::string& home, unsigned recid);

// Runs a program (absolute path) with the given arguments, environment, cwd
// and standard input. Never uses a shell.
RunResult runProgram(const std::string& path, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env, const std::string& cwd,
                     const std::string& input);

}  // namespace e2e

#endif  // SEARCHRUN_TESTS_E2E_E2E_UTIL_H
