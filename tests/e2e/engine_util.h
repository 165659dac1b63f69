/// @file engine_util.h
/// @brief The installation of the search engine tests: indexes built by the
/// installed index builder from documents written below ROOT/docs/<set>,
/// searched with or without the engine service; runs of its programs that
/// may not finish (a deadline, or a start without waiting); and requests to
/// the service straight over its socket.

#ifndef SEARCHRUN_TESTS_E2E_ENGINE_UTIL_H
#define SEARCHRUN_TESTS_E2E_ENGINE_UTIL_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "search/engine_wire.h"
#include "system/delimiters.h"
#include "system/net_exchange.h"
#include "tests/e2e/e2e_util.h"
#include "tests/loopback.h"
#include "tests/process_run.h"

namespace enginetest {

// Exit status of a run that missed its deadline and was killed.
constexpr int kTimedOut = -2;

// Starts `path` with `args` in `cwd` (environment: PATH only), its standard
// input empty and its standard output and error into the pipe ends given
// (or /dev/null for -1). Returns the pid, or -1.
inline pid_t startProgram(const std::string& path, const std::vector<std::string>& args,
                          const std::string& cwd, int outFd = -1, int errFd = -1) {
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  char pathEnv[] = "PATH=/usr/bin:/bin";
  char* envp[] = {pathEnv, nullptr};
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int null = open("/dev/null", O_RDWR);
  dup2(null, 0);
  dup2(outFd >= 0 ? outFd : null, 1);
  dup2(errFd >= 0 ? errFd : null, 2);
  if (chdir(cwd.c_str()) == 0) execve(path.c_str(), argv.data(), envp);
  _exit(127);
}

// startProgram with standard output and error appended to the file `log`.
inline pid_t startLogged(const std::string& path, const std::vector<std::string>& args,
                         const std::string& cwd, const std::string& log) {
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  const pid_t pid = startProgram(path, args, cwd, fd, fd);
  close(fd);
  return pid;
}

// Waits for a started program; its exit status (128 + signal when killed), or
// kTimedOut after killing it when it runs longer than `seconds`.
inline int waitWithin(pid_t pid, double seconds) {
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec + (now.tv_nsec - start.tv_nsec) / 1e9 > seconds) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return kTimedOut;
    }
    usleep(2000);
  }
}

// Runs a program to its end or its deadline (environment: PATH only, no
// input); exit status (or kTimedOut) and its standard error.
inline e2e::RunResult runWithin(double seconds, const std::string& path,
                                const std::vector<std::string>& args, const std::string& cwd) {
  testutil::ProcessSpec spec;
  spec.path = path;
  spec.args = args;
  spec.env = {"PATH=/usr/bin:/bin"};
  spec.cwd = cwd;
  spec.limitMs = static_cast<int>(seconds * 1000);
  testutil::ProcessResult ran = testutil::runProcess(spec);
  e2e::RunResult r;
  r.exitStatus = ran.killed ? kTimedOut : ran.exitStatus;
  r.err = std::move(ran.err);
  return r;
}

inline double secondsSince(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec - start.tv_sec + (now.tv_nsec - start.tv_nsec) / 1e9;
}

// A blocking connection to the service socket at `path`, or -1.
inline int connectTo(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return -1;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// Reads from `fd` until it ends, `done` says enough, or `seconds` pass.
// True when the stream ended (the peer closed).
template <typename Done>
bool readUntil(int fd, std::string& got, double seconds, Done done) {
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (!done(got)) {
    const double left = seconds - secondsSince(start);
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left * 1000) + 1) <= 0) continue;
    char buf[16384];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return true;
    if (n > 0) got.append(buf, static_cast<size_t>(n));
  }
  return false;
}

// Reads from `fd` until the peer closes it (true) or `seconds` pass.
inline bool readToEnd(int fd, std::string& got, double seconds) {
  return readUntil(fd, got, seconds, [](const std::string&) { return false; });
}

// What the service made of one request sent straight to its socket.
struct Reply {
  bool connected = false;
  bool started = false;   // the started byte came
  bool answered = false;  // and a whole answer after it
  vela::ToolAnswer answer;
};

// Sends `bytes` and waits at most `seconds` for the started byte and the
// answer.
inline Reply sendRaw(const std::string& socketPath, const std::string& bytes, double seconds = 60) {
  Reply r;
  const int fd = connectTo(socketPath);
  if (fd < 0) return r;
  r.connected = true;
  std::string got;
  if (send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size())) {
    readUntil(fd, got, seconds, [&](const std::string& g) {
      size_t used;
      return g.size() > 1 && vela::decodeAnswer(std::string_view(g).substr(1), r.answer, used) !=
                                 vela::Decoded::kNeedMore;
    });
  }
  close(fd);
  r.started = !got.empty() && got[0] == vela::kStartedByte;
  size_t used = 0;
  r.answered = r.started && vela::decodeAnswer(std::string_view(got).substr(1), r.answer, used) ==
                                vela::Decoded::kDone;
  return r;
}

inline Reply askRaw(const std::string& socketPath, vela::Tool tool, const std::string& cwd,
                    const std::vector<std::string>& args, double seconds = 60) {
  std::string bytes;
  EXPECT_TRUE(vela::encodeRequest({tool, cwd, args, {}}, bytes));
  return sendRaw(socketPath, bytes, seconds);
}

// How the engine programs of an installation run in a test.
enum class Mode {
  kService,   // the test's engine service answers them
  kFallback,  // no service: each runs the full engine itself
};

inline std::string modeName(const ::testing::TestParamInfo<Mode>& info) {
  return info.param == Mode::kService ? "Service" : "Fallback";
}

// The names in a directory (none when it cannot be read).
inline std::set<std::string> listing(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    names.insert(e.path().filename().string());
  return names;
}

// True while a process runs (a zombie counts as ended).
inline bool processRuns(pid_t pid) {
  const std::string stat = testutil::readFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

class EngineInstall : public e2e::Installation {
 public:
  // Searches here never start a service of their own: a test starts the one
  // it wants, and knows it ends. They wait for a busy service long enough
  // that a loaded machine does not make them run alone.
  explicit EngineInstall(Mode mode = Mode::kFallback) {
    const char* exchange = std::getenv(e2e::kEngineRunsVariable);
    write(e2e::kEngineServiceSettings, std::string("AUTO_START=no\nWAIT_MS=10000\nEXCHANGE=") +
                                           (exchange ? exchange : "yes") + "\n");
    if (mode == Mode::kService) startService();
  }
  ~EngineInstall() { stopService(); }

  std::string socketPath() const { return path("run/engine.sock"); }

  // Starts the service (its standard error into ROOT/service.log) and waits
  // until it listens; its pid.
  pid_t startService(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"--root", root()};
    args.insert(args.end(), extra.begin(), extra.end());
    service_ = startLogged(path("binind/vela_service"), args, cgiDir(), path("service.log"));
    EXPECT_TRUE(waitListening(true)) << read("service.log");
    return service_;
  }
  // Ends the service with `sig` and waits for it; its exit status.
  int stopService(int sig = SIGTERM) {
    if (service_ <= 0) return -1;
    kill(service_, sig);
    const int status = waitWithin(service_, 30);
    service_ = -1;
    return status;
  }
  pid_t servicePid() const { return service_; }
  // Waits (at most 20 s) until the socket accepts connections, or refuses
  // them when `listening` is false.
  bool waitListening(bool listening) const {
    for (int i = 0; i < 4000; ++i) {
      const int fd = connectTo(socketPath());
      if (fd >= 0) close(fd);
      if ((fd >= 0) == listening) return true;
      usleep(5000);
    }
    return false;
  }

  // Takes the full engine away (no run can fall back) or brings it back.
  void hideFullEngine(bool hidden) const {
    const std::string full = path("binind/vela_engine.full"), away = full + ".away";
    ASSERT_EQ(rename((hidden ? full : away).c_str(), (hidden ? away : full).c_str()), 0);
  }

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
  // Runs binind/<program> in the CGI directory, killed after `seconds`.
  e2e::RunResult within(double seconds, const std::string& program,
                        const std::vector<std::string>& args) const {
    return runWithin(seconds, path("binind/" + program), args, cgiDir());
  }
  // Builds index `id` of owner alice from a document set; returns its home.
  std::string create(const std::string& id, const std::string& set) const {
    e2e::RunResult r = builder({"create", "--owner", "alice", "--id", id, docs(set)});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, id + "\n");
    return home(id);
  }

 private:
  pid_t service_ = -1;
};

// Starts the installation's class server with `args` (its log:
// ROOT/class_server.log) and waits until it answers a command at
// host:port; its pid.
inline pid_t startClassServer(const e2e::Installation& inst, const std::vector<std::string>& args,
                              const char* host, uint16_t port) {
  const pid_t pid = startLogged(inst.path("binind/class_server"), args, inst.cgiDir(),
                                inst.path("class_server.log"));
  const std::string probe = std::string("probe") + kCommandWordDelim + kCommandEndDelim;
  std::string answer;
  for (int i = 0; i < 2000 && getData(host, port, probe, answer) != 0; ++i)
    usleep(5000);
  EXPECT_EQ(0u, answer.find("ERROR")) << inst.read("class_server.log");
  return pid;
}

// Starts `count` thin engine programs at once, each searching `home` for
// "apple" into tmp/<prefix><i>, and expects every one to end well with the
// result `expected`.
inline void expectThinSearchesTogether(const EngineInstall& inst, const std::string& home,
                                       const std::string& prefix, int count,
                                       const std::string& expected) {
  std::vector<pid_t> programs;
  for (int i = 0; i < count; ++i) {
    const std::string result = inst.path("search-cgi/tmp/" + prefix + std::to_string(i));
    testutil::writeFile(result, "");
    programs.push_back(startProgram(inst.path("binind/vela25_0.exe"),
                                    {"-H", home, "-binout", "-o", result, "apple"}, inst.cgiDir()));
  }
  for (size_t i = 0; i < programs.size(); ++i) {
    EXPECT_EQ(waitWithin(programs[i], 60), 0) << i;
    EXPECT_EQ(testutil::readFile(inst.path("search-cgi/tmp/" + prefix + std::to_string(i))),
              expected)
        << i;
  }
}

// What a request gave: its page and the bytes of its result files, with the
// figures that differ from run to run (elapsed time, scratch names) masked.
struct Outcome {
  int status = -1;
  std::string page;
  std::vector<std::string> files;
};

// The query file holds the run's milliseconds just before its sort order.
inline std::string withoutRunTime(std::string bytes) {
  const size_t at = bytes.find(std::string("desc\0\0\0\0score", 13));
  if (at != std::string::npos && at >= 4) bytes.replace(at - 4, 4, 4, '#');
  return bytes;
}

// What `r` gave, with the result files that are not among `before`.
inline Outcome outcomeOf(const e2e::Installation& inst, const e2e::RunResult& r,
                         const std::set<std::string>& before) {
  Outcome o;
  o.status = r.exitStatus;
  static const std::regex varying("query[0-9]+|\\([0-9.]+ seconds\\)");
  o.page = std::regex_replace(r.out, varying, "#");
  for (const std::string& name : inst.resultFiles())
    if (!before.count(name)) o.files.push_back(withoutRunTime(inst.read("tmp/" + name)));
  return o;
}

// Three indexes of two topics, twelve reports: "sky" (d0-d3), "food"
// (d4-d7), "mixed" (d8-d11).
inline void createTopicIndexes(EngineInstall& inst) {
  const char* words[] = {"telescope", "galaxy", "nebula", "orbit", "butter", "oven", "flour"};
  for (int i = 0; i < 12; ++i) {
    std::string text = "A report on " + std::string(words[i % 7]) + ".\n";
    for (int k = 0; k < 4; ++k)
      text += std::string(words[(i + k) % 7]) + " and " + words[(i * 3 + k) % 7] + "\n";
    inst.doc(i < 4 ? "sky" : i < 8 ? "food" : "mixed", "d" + std::to_string(i) + ".txt", text);
  }
  for (const char* id : {"sky", "food", "mixed"})
    inst.create(id, id);
}

}  // namespace enginetest

#endif  // SEARCHRUN_TESTS_E2E_ENGINE_UTIL_H
