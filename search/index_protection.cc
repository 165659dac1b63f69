/// @file index_protection.cc
/// @brief The protection switches of an index home, which decide whether the
/// access filters are armed for a job. Apart from the search itself, so that
/// a program without access filters holds none of it.

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "search/vela_search.h"
#include "system/layout.h"
#include "system/lines.h"
#include "system/secure_file.h"

namespace {

// A protection switch that is there but cannot be read keeps its index
// protected: the filter then finds no rights and shows nothing.
bool existsAtAll(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool velaSearch::isNTFSIndex() const {
  const std::string path = systemGetIndexHome(getIndexOwner(), getIndexName()) + "/doc_ntfs.cfg";
  UniqueFile fp(fopenRegular(path.c_str()));
  if (!fp) return existsAtAll(path);
  return std::fgetc(fp.get()) == '1';
}

bool velaSearch::isACLBuilderIndex() const {
  const std::string path =
      systemGetIndexHome(getIndexOwner(), getIndexName()) + "/acl_builder_option.cfg";
  UniqueFile fp(fopenRegular(path.c_str()));
  if (!fp) return existsAtAll(path);
  std::string line;
  return readBoundedLine(fp.get(), 1023, line) && !line.empty() && line[0] == '1';
}
