/// @file account_run.h
/// @brief Running a program as the installation's account: the administrator
/// (usually root) registers folders, yet whatever the index builder makes
/// must belong to the account the web server runs searchrun as.

#ifndef SEARCHRUN_COMPANIONS_REGISTER_ACCOUNT_RUN_H
#define SEARCHRUN_COMPANIONS_REGISTER_ACCOUNT_RUN_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace reg {

struct Account {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;
  std::string home;
};

// The account of that name; false with a message when there is none.
bool findAccount(const std::string& name, Account& account, std::string& error);
// The name of the account owning `path` (links followed); false with a
// message.
bool ownerOf(const std::string& path, std::string& name, std::string& error);

// Whether this process may act as `account`: as root it switches to it,
// otherwise it must already be it. False with a message that says how to
// run instead.
bool canActAs(const Account& account, std::string& error);

// Runs `argv` (argv[0] an absolute path, no shell) as `account`, with its
// standard output captured into `out` and its standard error the caller's.
// The child first checks, as the account, that it can list and read the
// folder `mustRead`, and refuses (exit status kCannotRead) when it cannot.
// False with a message when no child could be run; otherwise true with the
// program's exit status (128 + signal when killed).
constexpr int kCannotRead = 124;
constexpr int kCannotSwitch = 125;
bool runAsAccount(const Account& account, const std::vector<std::string>& argv,
                  const std::string& mustRead, std::string& out, int& exitStatus,
                  std::string& error);

}  // namespace reg

#endif  // SEARCHRUN_COMPANIONS_REGISTER_ACCOUNT_RUN_H
