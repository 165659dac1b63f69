/// @file daemon_options.cc
/// @brief Reading a daemon's command line.

#include "companions/serve/daemon_options.h"

#include <cstdio>
#include <cstring>

#include "system/numbers.h"

namespace serve {

namespace {

int bad(const char* program, const char* usage, const std::string& problem) {
  std::fprintf(stderr, "%s: %s\n%s", program, problem.c_str(), usage);
  return 2;
}

// Takes `value` for `option`; false when it is missing or out of range.
bool take(const DaemonOption& option, const char* value) {
  if (value == nullptr) return false;
  if (option.text) *option.text = value;
  if (option.list) option.list->emplace_back(value);
  return option.number == nullptr || parseDecimal(value, option.min, option.max, *option.number);
}

}  // namespace

int readDaemonOptions(int argc, char** argv, const char* program, const char* usage,
                      const std::vector<DaemonOption>& options, const char* required) {
  bool seenRequired = required == nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(usage, stdout);
      return -1;
    }
    const DaemonOption* found = nullptr;
    for (const DaemonOption& option : options)
      if (a == option.name) found = &option;
    if (found == nullptr) return bad(program, usage, "bad argument " + a);
    if (required != nullptr && a == required) seenRequired = true;
    if (found->flag) {
      *found->flag = true;
      continue;
    }
    if (!take(*found, i + 1 < argc ? argv[i + 1] : nullptr))
      return bad(program, usage, "bad argument " + a);
    ++i;
  }
  if (!seenRequired) return bad(program, usage, std::string(required) + " is needed");
  return 0;
}

}  // namespace serve
