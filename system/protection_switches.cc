/// @file protection_switches.cc
/// @brief Reading the protection switches of an index home.

#include "system/protection_switches.h"

#include <cerrno>
#include <cstdio>

#include "system/lines.h"
#include "system/secure_file.h"

namespace {

// After a failed open of a switch: only a path that is not there at all, as
// the open itself answered, leaves the index unprotected. A switch that is
// there but cannot be read as one (a link, a folder, no permission) still
// protects.
bool switchIsThere() {
  return errno != ENOENT && errno != ENOTDIR;
}

}  // namespace

bool homeHasFileAcl(const std::string& home) {
  const std::string path = home + "/doc_ntfs.cfg";
  UniqueFile fp(fopenRegular(path.c_str()));
  if (!fp) return switchIsThere();
  return std::fgetc(fp.get()) == '1';
}

bool homeHasBuilderAcl(const std::string& home) {
  const std::string path = home + "/acl_builder_option.cfg";
  UniqueFile fp(fopenRegular(path.c_str()));
  if (!fp) return switchIsThere();
  std::string line;
  return readBoundedLine(fp.get(), 1023, line) && !line.empty() && line[0] == '1';
}
