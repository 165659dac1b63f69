/// @file daemon_options.h
/// @brief The command line of the system's daemons: "--name value" options
/// and switches, "--help" answered with the daemon's usage text.

#ifndef SEARCHRUN_COMPANIONS_SERVE_DAEMON_OPTIONS_H
#define SEARCHRUN_COMPANIONS_SERVE_DAEMON_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

namespace serve {

// One option; exactly one of the targets is set.
struct DaemonOption {
  const char* name;
  std::string* text = nullptr;  // "--name TEXT"
  int64_t* number = nullptr;    // "--name N", min <= N <= max
  int64_t min = 0, max = 0;
  std::vector<std::string>* list = nullptr;  // "--name TEXT", repeatable
  bool* flag = nullptr;                      // "--name" alone
};

inline DaemonOption textOption(const char* name, std::string& to) {
  DaemonOption o{name};
  o.text = &to;
  return o;
}
inline DaemonOption numberOption(const char* name, int64_t& to, int64_t min, int64_t max) {
  DaemonOption o{name};
  o.number = &to;
  o.min = min;
  o.max = max;
  return o;
}
inline DaemonOption listOption(const char* name, std::vector<std::string>& to) {
  DaemonOption o{name};
  o.list = &to;
  return o;
}
inline DaemonOption flagOption(const char* name, bool& to) {
  DaemonOption o{name};
  o.flag = &to;
  return o;
}

// Reads argv[1..] against `options`. Returns 0 to go on; -1 after "--help"
// or "-h" (the usage was printed on standard output: exit 0); 2 after a bad
// or missing argument, or when a required option (`required`, by name) is
// absent: the problem and the usage were printed on standard error as
// "PROGRAM: problem".
int readDaemonOptions(int argc, char** argv, const char* program, const char* usage,
                      const std::vector<DaemonOption>& options, const char* required);

}  // namespace serve

#endif  // SEARCHRUN_COMPANIONS_SERVE_DAEMON_OPTIONS_H
