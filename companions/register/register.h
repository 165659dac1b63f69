/// @file register.h
/// @brief searchrun-register: a folder made an index of the installation,
/// kept fresh by a timer, and offered on the search page.

#ifndef SEARCHRUN_COMPANIONS_REGISTER_REGISTER_H
#define SEARCHRUN_COMPANIONS_REGISTER_REGISTER_H

#include <ostream>
#include <string>
#include <vector>

namespace reg {

struct RegisterOptions {
  std::string root;     // "" : the installation of this program
  std::string account;  // "" : the owner of ROOT/tmp
  std::string desc;
  std::string owner = "admin";
  std::string calendar = "daily";
  bool timer = true;
  std::string systemdDir = "/etc/systemd/system";
  std::string folder;     // absolute
  bool pageOnly = false;  // --page: only the search page anew
};

// Reads the command line (without the program name); relative folders are
// made absolute here, before the run moves elsewhere. False with a message.
bool parseRegisterArgs(const std::vector<std::string>& args, RegisterOptions& options,
                       std::string& error);

// The timer of index `id`, its drop-in folder and the drop-in's text: the
// empty OnCalendar= drops the template's default.
std::string timerUnit(const std::string& id);
std::string timerDropInDir(const std::string& systemdDir, const std::string& id);
std::string timerDropIn(const std::string& calendar);

// The text of --help: usage, what the command does, its options.
std::string registerHelp();

// Registers options.folder (or only writes the page); what is done goes to
// `out`, problems to `err`. The exit status of the command.
int runRegister(const RegisterOptions& options, std::ostream& out, std::ostream& err);

}  // namespace reg

#endif  // SEARCHRUN_COMPANIONS_REGISTER_REGISTER_H
