/// @file protection_switches.cc
/// @brief Reading the protection switches of an index home.

#include "system/protection_switches.h"

#include <sys/stat.h>

#include <cstdio>

#include "system/lines.h"
#include "system/secure_file.h"

namespace {

bool existsAtAll(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool homeHasFileAcl(const std::string& home) {
  const std::string path = home + "/doc_ntfs.cfg";
  UniqueFile fp(fopenRegular(path.c_str()));
  if (!fp) return existsAtAll(path);
  return std::fgetc(fp.get()) == '1';
}

bool homeHasBuilderAcl(const std::string& home) {
  const std::string path = home + "/acl_builder_option.cfg";
  UniqueFile fp(fopenRegular(path.c_str()));
  if (!fp) return existsAtAll(path);
  std::string line;
  return readBoundedLine(fp.get(), 1023, line) && !line.empty() && line[0] == '1';
}
