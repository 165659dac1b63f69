/// @file system_log.cc
/// @brief The dated system log.

#include "system/system_log.h"

#include "system/clock.h"
#include "system/fsutil.h"
#include "system/secure_file.h"

std::string getLogDirectory(const char* /*owner*/, const char* name) {
  makeDirectory("../system_log");
  makeDirectory("../system_log/index");
  std::string dir = std::string("../system_log/index/") + (name ? name : "");
  makeDirectory(dir.c_str());
  return dir;
}

std::string getLogFile(const char* owner, const char* name, const char* file) {
  return getLogDirectory(owner, name) + "/" + (file ? file : "");
}

std::string outputDateTime() {
  const struct tm t = systemLocalTime(systemTimeOfDay().tv_sec);
  char text[64];
  snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
           t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

FILE* openLogFile(const char* owner, const char* name, const char* file) {
  FILE* stream = fopenAppend(getLogFile(owner, name, file), 0640);
  setLogFileOpen(stream);
  return stream;
}

void setLogFileOpen(FILE* stream) {
  if (stream == nullptr) return;
  fprintf(stream, "----- [OPEN] %s -----\n", outputDateTime().c_str());
  fflush(stream);
}

void writeDataToLog(FILE* stream, int number, const char* text, const char* extra1,
                    const char* extra2, int value) {
  if (stream == nullptr) return;
  fprintf(stream, "[%s.%04d] %s", outputDateTime().c_str(), number, text ? text : "");
  for (const char* extra : {extra1, extra2}) {
    if (extra != nullptr) fprintf(stream, " [%s]", extra);
  }
  if (value != kNoLogValue) fprintf(stream, " [%d]", value);
  fputc('\n', stream);
  fflush(stream);
}

void closeLogFile(FILE* stream) {
  if (stream == nullptr) return;
  fprintf(stream, "----- [CLOSE] %s -----\n", outputDateTime().c_str());
  fclose(stream);
}
