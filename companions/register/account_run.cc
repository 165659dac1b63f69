/// @file account_run.cc
/// @brief The account's identity taken in a child (groups, group, user, each
/// checked to have taken), then the program started without a shell.

#include "companions/register/account_run.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "system/child_process.h"

namespace reg {

namespace {

// A message from the child, which must not use the parent's buffers.
void childSays(const std::string& text) {
  const std::string line = "searchrun-register: " + text + "\n";
  if (write(2, line.data(), line.size()) < 0) return;
}

// Takes the account's identity for good; false when any step did not take
// (a root left with root's groups or able to become root again).
bool becomeAccount(const Account& account) {
  if (geteuid() != 0) return getuid() == account.uid && geteuid() == account.uid;
  if (initgroups(account.name.c_str(), account.gid) != 0 || setgid(account.gid) != 0 ||
      setuid(account.uid) != 0)
    return false;
  if (getuid() != account.uid || geteuid() != account.uid || getgid() != account.gid ||
      getegid() != account.gid)
    return false;
  return account.uid == 0 || setuid(0) != 0;
}

bool canReadFolder(const std::string& folder) {
  struct stat st;
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         access(folder.c_str(), R_OK | X_OK) == 0;
}

[[noreturn]] void runChild(const Account& account, const std::vector<std::string>& argv,
                           const std::string& mustRead, int outFd) {
  if (!becomeAccount(account)) {
    childSays("cannot become the account " + account.name);
    _exit(kCannotSwitch);
  }
  if (!canReadFolder(mustRead)) {
    childSays("the account " + account.name + " cannot read the folder " + mustRead);
    _exit(kCannotRead);
  }
  if (dup2(outFd, 1) < 0 || chdir("/") != 0) _exit(kCannotSwitch);
  // The administrator's environment is not the account's.
  const std::string home = "HOME=" + (account.home.empty() ? "/" : account.home);
  const std::string user = "USER=" + account.name, logname = "LOGNAME=" + account.name;
  const char* env[] = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", home.c_str(), user.c_str(),
                       logname.c_str(), nullptr};
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execve(args[0], args.data(), const_cast<char**>(env));
  childSays("cannot run " + argv[0] + ": " + std::strerror(errno));
  _exit(kChildNotStartedExitCode);
}

}  // namespace

bool findAccount(const std::string& name, Account& account, std::string& error) {
  errno = 0;
  const struct passwd* pw = getpwnam(name.c_str());
  if (pw == nullptr) {
    error = "no account " + name;
    return false;
  }
  account = {pw->pw_name, pw->pw_uid, pw->pw_gid, pw->pw_dir ? pw->pw_dir : ""};
  return true;
}

bool ownerOf(const std::string& path, std::string& name, std::string& error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    error = "cannot find " + path + ": " + std::strerror(errno);
    return false;
  }
  const struct passwd* pw = getpwuid(st.st_uid);
  if (pw == nullptr) {
    error = path + " belongs to uid " + std::to_string(st.st_uid) + ", which has no name";
    return false;
  }
  name = pw->pw_name;
  return true;
}

bool canActAs(const Account& account, std::string& error) {
  if (geteuid() == 0 || (geteuid() == account.uid && getuid() == account.uid)) return true;
  error = "run this as root, or as the account " + account.name +
          " that owns the installation's working directories";
  return false;
}

bool runAsAccount(const Account& account, const std::vector<std::string>& argv,
                  const std::string& mustRead, std::string& out, int& exitStatus,
                  std::string& error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    error = std::string("cannot start a process: ") + std::strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) runChild(account, argv, mustRead, fds[1]);
  close(fds[1]);
  out.clear();
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) != 0;) {
    if (n > 0)
      out.append(buf, static_cast<size_t>(n));
    else if (errno != EINTR)
      break;
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) {
      error = std::string("cannot wait for ") + argv[0] + ": " + std::strerror(errno);
      return false;
    }
  exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

}  // namespace reg
