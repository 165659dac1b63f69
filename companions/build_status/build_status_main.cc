/// @file build_status_main.cc
/// @brief build_status: the build status report of one index, from the
/// record its last build left and what its directories hold now.

#include <unistd.h>

#include <iostream>
#include <string>

#include "system/build_status.h"
#include "system/index_id.h"
#include "system/layout.h"

namespace {

constexpr const char* kUsage =
    "Usage: build_status [--root ROOT] --id ID\n"
    "Prints when the last build of index ID started and ended, its owner, type\n"
    "and mode (create, update or rebuild), its records and size, and the disk\n"
    "space its directories use. Without --root it runs in the installation's\n"
    "CGI directory (ROOT/search-cgi).\n"
    "\n"
    "Options:\n"
    "  --root ROOT  the installation\n"
    "  --id ID      the index (the id that index_builder create printed)\n";

int usage(const std::string& problem) {
  std::cerr << "build_status: " << problem << "\n" << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string root, id;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if ((a == "--root" || a == "--id") && i + 1 < argc) {
      (a == "--root" ? root : id) = argv[++i];
    } else {
      return usage("bad argument " + a);
    }
  }
  if (id.empty()) return usage("no index id");
  if (!root.empty() && chdir((root + "/search-cgi").c_str()) != 0)
    return usage("no CGI directory " + root + "/search-cgi");
  IndexIdFileMgr ids;
  if (!ids.readIndexIdInfo(id.c_str())) {
    std::cerr << "build_status: no index " << id << "\n";
    return 1;
  }
  BuildRecord record;
  if (!readBuildRecord(systemGetIndexHome(ids.getIndexOwner(), id.c_str()), record)) {
    std::cerr << "build_status: index " << id << " has no build record\n";
    return 1;
  }
  CCollectBuildStatus status;
  status.setOwnerName(ids.getIndexOwner());
  status.setIndexName(id.c_str());
  status.setIndexType(record.type.c_str());
  status.setIndexMode(record.mode == "update" ? 1 : 0);
  status.setStartTime(record.start);
  status.setEndTime(record.end);
  std::cout << buildStatusReport(status, record.mode);
  return 0;
}
