/// @file e2e_util.cc
/// @brief Installs the build tree into a temporary root and runs its programs.

#include "tests/e2e/e2e_util.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

namespace e2e {

namespace {

// Reads both pipes and feeds the input without risking a deadlock when the
// child writes more than a pipe holds before reading its input.
void pump(int inFd, const std::string& input, int outFd, int errFd, RunResult& r) {
  size_t written = 0;
  if (input.empty() && inFd >= 0) {
    close(inFd);
    inFd = -1;
  }
  char buf[65536];
  while (outFd >= 0 || errFd >= 0) {
    pollfd fds[3];
    int n = 0;
    int iOut = -1, iErr = -1, iIn = -1;
    if (outFd >= 0) fds[iOut = n++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[iErr = n++] = {errFd, POLLIN, 0};
    if (inFd >= 0) fds[iIn = n++] = {inFd, POLLOUT, 0};
    if (poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    auto drain = [&](int idx, int& fd, std::string& sink) {
      if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) return;
      ssize_t got = read(fd, buf, sizeof buf);
      if (got > 0) {
        sink.append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fd);
        fd = -1;
      }
    };
    drain(iOut, outFd, r.out);
    drain(iErr, errFd, r.err);
    if (iIn >= 0 && (fds[iIn].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = write(inFd, input.data() + written, input.size() - written);
      if (put > 0) written += static_cast<size_t>(put);
      if (put < 0 || written == input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  if (inFd >= 0) close(inFd);
}

}  // namespace

RunResult runProgram(const std::string& path, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env, const std::string& cwd,
                     const std::string& input) {
  RunResult r;
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return r;
  signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> envStrings;
  for (const auto& [k, v] : env)
    envStrings.push_back(k + "=" + v);
  if (!env.count("PATH")) envStrings.push_back("PATH=/usr/bin:/bin");
  std::vector<char*> envp;
  for (auto& s : envStrings)
    envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings{path};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings)
    argv.push_back(s.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
      close(fd);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execve(path.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  pump(in[1], input, out[0], err[0], r);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  r.maxRssKb = usage.ru_maxrss;
  if (WIFEXITED(status)) {
    r.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    r.exitStatus = 128 + WTERMSIG(status);
  }
  return r;
}

Installation::Installation() {
  RunResult r = runProgram(SR_CMAKE_COMMAND, {"--install", SR_BINARY_DIR, "--prefix", root()}, {},
                           root(), "");
  if (r.exitStatus != 0) {
    std::cerr << "cmake --install failed:\n" << r.out << r.err;
    std::abort();
  }
}

void Installation::write(const std::string& rel, const std::string& bytes) const {
  testutil::writeFile(path(rel), bytes);
}

std::string Installation::read(const std::string& rel) const {
  return testutil::readFile(path(rel));
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

std::string messageText(const Installation& inst, const std::string& number) {
  const std::string table = inst.read("setting/ts_cgi_msg_table.cfg");
  const std::string key = number + "\t";
  const size_t at = table.find(key);
  if (at == std::string::npos) return "";
  const size_t end = table.find('\n', at);
  return table.substr(at + key.size(), end - at - key.size());
}

}  // namespace e2e
