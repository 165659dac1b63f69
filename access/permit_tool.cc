/// @file permit_tool.cc
/// @brief Command-line handling of the sign-in tool.

#include "access/permit_tool.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <string>

#include "access/cookie_permit.h"
#include "system/numbers.h"

namespace {

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: ks_permit [--root ROOT] COMMAND [OPTIONS]\n"
    "Runs in the CGI directory of the installation, or in ROOT/search-cgi.\n"
    "\n"
    "Commands:\n"
    "  create --user NAME [--type N]          issue a permit, print \"ks_key=KEY\"\n"
    "  check --user NAME --key KEY [--lifetime S]\n"
    "                                         print the check result (0 valid, -1 invalid,\n"
    "                                         -3 timed out and removed)\n"
    "  remove --user NAME --key KEY           delete the permit\n"
    "  expire --max-idle S                    delete permits idle over S seconds, print count\n";

struct CommandLine {
  std::string command;
  std::map<std::string, std::string> options;  // "--user" -> "NAME"
  bool help = false;
};

bool takesValue(const std::string& option) {
  return option == "--root" || option == "--user" || option == "--type" || option == "--key" ||
         option == "--lifetime" || option == "--max-idle";
}

// Fills line; on a bad command line writes why to err and returns false.
bool parseCommandLine(int argc, const char* const* argv, CommandLine& line, FILE* err) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--help" || word == "-h") {
      line.help = true;
    } else if (takesValue(word)) {
      if (i + 1 >= argc) {
        std::fprintf(err, "ks_permit: %s needs a value\n", word.c_str());
        return false;
      }
      line.options[word] = argv[++i];
    } else if (word.rfind("-", 0) != 0 && line.command.empty()) {
      line.command = word;
    } else {
      std::fprintf(err, "ks_permit: unexpected argument \"%s\"\n", word.c_str());
      return false;
    }
  }
  return true;
}

const char* option(const CommandLine& line, const char* name) {
  auto it = line.options.find(name);
  return it == line.options.end() ? nullptr : it->second.c_str();
}

const char* required(const CommandLine& line, const char* name, FILE* err) {
  const char* value = option(line, name);
  if (value == nullptr)
    std::fprintf(err, "ks_permit %s: %s is required\n", line.command.c_str(), name);
  return value;
}

bool readNumber(const char* name, const char* text, int64_t min, int64_t max, int64_t& value,
                FILE* err) {
  if (parseDecimal(text, min, max, value)) return true;
  std::fprintf(err, "ks_permit: %s wants a number from %lld to %lld, not \"%s\"\n", name,
               static_cast<long long>(min), static_cast<long long>(max), text);
  return false;
}

const char* describe(int result) {
  switch (result) {
    case PERMIT_ERR_KEY_VALID:
      return "valid";
    case PERMIT_ERR_KEY_INVALID:
      return "no valid permit of this user under this key";
    case kPermitNoFile:
      return "no such permit";
    case PERMIT_ERR_KEY_TIMEOUT:
      return "timed out; the permit has been removed";
    default:
      return "failed";
  }
}

int runCreate(const CommandLine& line, FILE* out, FILE* err) {
  const char* user = required(line, "--user", err);
  if (user == nullptr) return kExitUsage;
  int64_t type = 0;
  const char* typeText = option(line, "--type");
  if (typeText && !readNumber("--type", typeText, INT_MIN, INT_MAX, type, err)) return kExitUsage;
  char answer[kPermitAnswerSize];
  if (KS_CookiePermitCreate(user, answer, sizeof answer, static_cast<int>(type)) == nullptr) {
    std::fprintf(err, "ks_permit create: no permit issued (empty user, or %s not writable)\n",
                 kPermitDir);
    return kExitRefused;
  }
  std::fprintf(out, "%s\n", answer);
  return 0;
}

int runCheck(const CommandLine& line, FILE* out, FILE* err) {
  const char* user = required(line, "--user", err);
  const char* key = required(line, "--key", err);
  if (user == nullptr || key == nullptr) return kExitUsage;
  const char* lifeText = option(line, "--lifetime");
  int64_t life = 0;
  if (lifeText && !readNumber("--lifetime", lifeText, 0, UINT_MAX, life, err)) return kExitUsage;
  int result = lifeText ? KS_CookiePermitCheck(user, key, static_cast<unsigned>(life))
                        : KS_CookiePermitCheck(user, key);
  std::fprintf(out, "%d\n", result);
  if (result == PERMIT_ERR_KEY_VALID) return 0;
  std::fprintf(err, "ks_permit check: %s\n", describe(result));
  return kExitRefused;
}

int runRemove(const CommandLine& line, FILE* err) {
  const char* user = required(line, "--user", err);
  const char* key = required(line, "--key", err);
  if (user == nullptr || key == nullptr) return kExitUsage;
  int result = KS_CookiePermitRemove(user, key);
  if (result == 0) return 0;
  std::fprintf(err, "ks_permit remove: %s\n", describe(result));
  return kExitRefused;
}

int runExpire(const CommandLine& line, FILE* out, FILE* err) {
  const char* idleText = required(line, "--max-idle", err);
  int64_t idle = 0;
  if (idleText == nullptr || !readNumber("--max-idle", idleText, 0, UINT_MAX, idle, err))
    return kExitUsage;
  int deleted = KS_CookiePermitExpire(static_cast<unsigned>(idle));
  if (deleted < 0) {
    std::fprintf(err, "ks_permit expire: cannot read %s\n", kPermitDir);
    return kExitRefused;
  }
  std::fprintf(out, "%d\n", deleted);
  return 0;
}

}  // namespace

int permitToolRun(int argc, const char* const* argv, FILE* out, FILE* err) {
  CommandLine line;
  if (!parseCommandLine(argc, argv, line, err)) {
    std::fputs(kUsage, err);
    return kExitUsage;
  }
  if (line.help) {
    std::fputs(kUsage, out);
    return 0;
  }
  if (const char* root = option(line, "--root")) {
    std::string cgiDir = std::string(root) + "/search-cgi";
    if (::chdir(cgiDir.c_str()) != 0) {
      std::fprintf(err, "ks_permit: cannot change to %s: %s\n", cgiDir.c_str(),
                   std::strerror(errno));
      return kExitRefused;
    }
  }
  if (line.command == "create") return runCreate(line, out, err);
  if (line.command == "check") return runCheck(line, out, err);
  if (line.command == "remove") return runRemove(line, err);
  if (line.command == "expire") return runExpire(line, out, err);
  if (line.command.empty()) {
    std::fputs("ks_permit: no command given\n", err);
  } else {
    std::fprintf(err, "ks_permit: unknown command \"%s\"\n", line.command.c_str());
  }
  std::fputs(kUsage, err);
  return kExitUsage;
}
