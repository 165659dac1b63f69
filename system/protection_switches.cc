/// @file protection_switches.cc
/// @brief Reading the protection switches of an index home.

#include "system/protection_switches.h"

#include <cerrno>
#include <cstdio>

#include "system/kept_files.h"
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

// Every search reads the switches of each index it searches: they are kept
// while unchanged, and a switch too large to keep is read as a stream.
bool homeHasFileAcl(const std::string& home) {
  const std::string path = home + "/doc_ntfs.cfg";
  if (const auto text = keptFileText(path)) return !text->empty() && (*text)[0] == '1';
  if (errno != EFBIG) return switchIsThere();
  UniqueFile fp(fopenRegular(path.c_str()));
  if (!fp) return switchIsThere();
  return std::fgetc(fp.get()) == '1';
}

bool homeHasBuilderAcl(const std::string& home) {
  const std::string path = home + "/acl_builder_option.cfg";
  // The first line starts with '1' just when the text does.
  if (const auto text = keptFileText(path)) return !text->empty() && (*text)[0] == '1';
  if (errno != EFBIG) return switchIsThere();
  UniqueFile fp(fopenRegular(path.c_str()));
  if (!fp) return switchIsThere();
  std::string line;
  return readBoundedLine(fp.get(), 1023, line) && !line.empty() && line[0] == '1';
}
