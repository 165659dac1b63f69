/// @file register.cc
/// @brief The steps of a registration: the index built as the account, the
/// timer's schedule, the search page.

#include "companions/register/register.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "companions/register/account_run.h"
#include "companions/register/search_page.h"
#include "system/address.h"
#include "system/child_process.h"
#include "system/index_schedule.h"
#include "system/secure_file.h"

namespace reg {

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage = "Usage: searchrun-register [OPTION]... FOLDER | --page";
constexpr const char* kUnitTemplates[] = {"searchrun-update@.service", "searchrun-update@.timer"};
// Where systemd finds units besides the administrator's folder.
constexpr const char* kPackageUnitDirs[] = {"/usr/lib/systemd/system", "/lib/systemd/system"};
constexpr const char* kSystemctl[] = {"/usr/bin/systemctl", "/bin/systemctl"};
// The folders of units systemd itself reads; a drop-in anywhere else (a
// staging folder, a test's) is not for the running systemd.
constexpr const char* kSystemdReads[] = {"/etc/systemd/system", "/run/systemd/system",
                                         "/usr/lib/systemd/system", "/lib/systemd/system"};

// `path` made absolute from the working directory of the command, without
// "." or ".." or a trailing "/".
std::string absolutePath(const std::string& path) {
  std::string out = fs::absolute(path).lexically_normal().string();
  if (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The id the builder printed: its last line.
std::string printedId(std::string out) {
  while (!out.empty() && out.back() == '\n')
    out.pop_back();
  const size_t nl = out.rfind('\n');
  return nl == std::string::npos ? out : out.substr(nl + 1);
}

// Builds the index as the account; "" after telling why it was not made.
std::string buildAsAccount(const RegisterOptions& o, const std::string& root, std::ostream& err) {
  std::string error, account = o.account;
  if (account.empty() && !ownerOf(root + "/tmp", account, error)) {
    err << "searchrun-register: " << error << "\n";
    return "";
  }
  Account who;
  if (!findAccount(account, who, error) || !canActAs(who, error)) {
    err << "searchrun-register: " << error << "\n";
    return "";
  }
  const std::vector<std::string> argv = {root + "/binind/index_builder",
                                         "--root",
                                         root,
                                         "--quiet",
                                         "create",
                                         "--owner",
                                         o.owner,
                                         "--desc",
                                         o.desc,
                                         "--schedule",
                                         o.calendar,
                                         o.folder};
  std::string out;
  int status = 0;
  if (!runAsAccount(who, argv, o.folder, out, status, error)) {
    err << "searchrun-register: " << error << "\n";
    return "";
  }
  const std::string id = printedId(out);
  if (status == 0 && isSafeIndexName(id.c_str())) return id;
  if (status != kCannotRead && status != kCannotSwitch)
    err << "searchrun-register: the index builder failed (exit status " << status << ")\n";
  return "";
}

// Copies the unit templates of this installation into `dir` when systemd
// knows none yet (a package installs its own beside the system's units).
bool installUnitTemplates(const std::string& root, const std::string& dir, std::string& error) {
  for (const char* unit : kUnitTemplates) {
    bool known = exists(dir + "/" + unit);
    for (const char* packaged : kPackageUnitDirs)
      known = known || exists(std::string(packaged) + "/" + unit);
    if (known) continue;
    std::string text;
    if (!readRegularFile(root + "/binind/" + unit, text, 1 << 16) ||
        !writeFileExclusive(dir + "/" + unit, text, 0644)) {
      error = std::string("cannot copy ") + root + "/binind/" + unit + " to " + dir;
      return false;
    }
  }
  return true;
}

bool writeDropIn(const RegisterOptions& o, const std::string& id, std::string& error) {
  const std::string dir = timerDropInDir(o.systemdDir, id);
  struct stat st;
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    error = "cannot create " + dir + ": " + std::strerror(errno);
    return false;
  }
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = dir + " is not a folder";
    return false;
  }
  if (replaceFileAtomically(dir + "/schedule.conf", timerDropIn(o.calendar), 0644)) return true;
  error = "cannot write " + dir + "/schedule.conf";
  return false;
}

std::string systemctlPath() {
  for (const char* path : kSystemctl)
    if (access(path, X_OK) == 0) return path;
  return "";
}

bool systemdReads(const std::string& dir) {
  for (const char* known : kSystemdReads)
    if (dir == known) return true;
  return false;
}

// Starts the timer when systemd runs here, reads `systemdDir` and may be
// asked; otherwise says what to run once it can be.
void enableTimer(const std::string& id, const std::string& systemdDir, std::ostream& out,
                 std::ostream& err) {
  const std::string systemctl = systemctlPath(), unit = timerUnit(id);
  const std::string later = "  systemctl daemon-reload && systemctl enable --now " + unit + "\n";
  struct stat st;
  if (!systemdReads(systemdDir)) {
    out << systemdDir
        << " is not a folder systemd reads: once the units are in one, start "
           "the timer as root with\n"
        << later;
    return;
  }
  if (systemctl.empty() || geteuid() != 0) {
    out << "systemd cannot be asked from here: to start the timer, run as root\n" << later;
    return;
  }
  // Where systemd does not run (a container, an image being made), the timer
  // is enabled for the next boot: enabling only links files.
  const bool running = stat("/run/systemd/system", &st) == 0;
  std::vector<std::vector<std::string>> steps;
  if (running) steps.push_back({systemctl, "daemon-reload"});
  steps.push_back({systemctl, "enable", "--quiet"});
  if (running) steps.back().push_back("--now");
  steps.back().push_back(unit);
  for (const std::vector<std::string>& argv : steps) {
    ChildProgram program;
    program.argv = argv;
    const ChildOutcome got = runChildProgram(program);
    if (got.how != ChildOutcome::How::kEnded || got.rawStatus != 0) {
      err << "searchrun-register: systemctl failed; the index is made, its timer is not "
             "started: run as root\n"
          << later;
      return;
    }
  }
  out << "timer " << unit << (running ? " started\n" : " enabled (systemd does not run here)\n");
}

}  // namespace

std::string registerHelp() {
  return std::string(kUsage) +
         "\n"
         "Makes FOLDER an index of the installation, as its account: builds it, has\n"
         "a timer (searchrun-update@ID.timer) bring it up to date on its schedule,\n"
         "and lists it on the search page (ROOT/search/index.html). With --page,\n"
         "only writes the search page anew. Run it as root (the timer is enabled\n"
         "through systemctl), or as the installation's account without a timer.\n"
         "\n"
         "Options:\n"
         "  --root ROOT        the installation (default: the one of this program)\n"
         "  --account NAME     the account that owns it (default: the owner of ROOT/tmp)\n"
         "  --desc TEXT        the index's description on the search page\n"
         "  --owner OWNER      the owner the index is filed under (default: admin)\n"
         "  --schedule CALENDAR  when the timer updates it, as systemd writes times\n"
         "                     (default: daily; e.g. hourly, \"*-*-* 03:00\")\n"
         "  --no-timer         no timer: the index is updated by hand only\n"
         "  --systemd-dir DIR  where the timer's setting is written\n"
         "                     (default: /etc/systemd/system)\n"
         "  --page             only write the search page anew\n"
         "  --help             show this help\n"
         "Prints the new index's id and the search page.\n";
}

bool parseRegisterArgs(const std::vector<std::string>& args, RegisterOptions& o,
                       std::string& error) {
  const std::pair<const char*, std::string*> valued[] = {
      {"--root", &o.root},   {"--account", &o.account},   {"--desc", &o.desc},
      {"--owner", &o.owner}, {"--schedule", &o.calendar}, {"--systemd-dir", &o.systemdDir}};
  std::vector<std::string> words;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* target = nullptr;
    for (const auto& [name, value] : valued)
      if (a == name) target = value;
    if (target) {
      if (i + 1 == args.size()) {
        error = a + " needs a value\n" + kUsage;
        return false;
      }
      *target = args[++i];
    } else if (a == "--no-timer") {
      o.timer = false;
    } else if (a == "--page") {
      o.pageOnly = true;
    } else if (a.size() > 1 && a[0] == '-') {
      error = "unknown option " + a + "\n" + kUsage;
      return false;
    } else {
      words.push_back(a);
    }
  }
  if (words.size() != (o.pageOnly ? 0u : 1u)) {
    error =
        std::string(o.pageOnly ? "--page takes no folder" : "one folder, please") + "\n" + kUsage;
    return false;
  }
  if (!o.pageOnly && !isSafeCalendar(o.calendar)) {
    error =
        "bad schedule: a calendar is 1 to 128 letters, digits, blanks and *-:,./~+ (e.g. "
        "daily, hourly, \"*-*-* 03:00\")";
    return false;
  }
  if (!isSafeOwnerName(o.owner)) {
    error = "bad owner " + o.owner;
    return false;
  }
  if (!o.pageOnly) o.folder = absolutePath(words[0]);
  if (!o.root.empty()) o.root = absolutePath(o.root);
  o.systemdDir = absolutePath(o.systemdDir);
  return true;
}

std::string timerUnit(const std::string& id) {
  return "searchrun-update@" + id + ".timer";
}

std::string timerDropInDir(const std::string& systemdDir, const std::string& id) {
  return systemdDir + "/" + timerUnit(id) + ".d";
}

std::string timerDropIn(const std::string& calendar) {
  return "[Timer]\nOnCalendar=\nOnCalendar=" + calendar + "\n";
}

int runRegister(const RegisterOptions& o, std::ostream& out, std::ostream& err) {
  std::string error;
  if (chdir((o.root + "/search-cgi").c_str()) != 0 ||
      access("../setting/system_info.cfg", R_OK) != 0) {
    err << "searchrun-register: " << o.root << " is no installation (give --root ROOT)\n";
    return 2;
  }
  std::string id;
  if (!o.pageOnly) {
    id = buildAsAccount(o, o.root, err);
    if (id.empty()) return 1;
    out << "index " << id << " of " << o.folder << " made\n";
  }
  int rc = 0;
  if (!o.pageOnly && o.timer) {
    if (installUnitTemplates(o.root, o.systemdDir, error) && writeDropIn(o, id, error)) {
      out << "schedule " << o.calendar << " in " << timerDropInDir(o.systemdDir, id) << "\n";
      enableTimer(id, o.systemdDir, out, err);
    } else {
      err << "searchrun-register: " << error << "; the index is made, but has no timer\n";
      rc = 1;
    }
  }
  if (!writeSearchPage(o.root, error)) {
    err << "searchrun-register: " << error << "\n";
    return 1;
  }
  out << "search page " << o.root << "/" << kSearchPage << "\n";
  return rc;
}

}  // namespace reg
