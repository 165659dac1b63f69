/// @file service_request.h
/// @brief The work of the engine service on one request: which requests it
/// takes, which files they may touch, and the run itself, which is the run
/// the requesting program would have made in its own process.
///
/// Whatever arrives on the service's socket is taken for hostile. A request
/// is run only when
///   - it comes from the installation's CGI directory (the working directory
///     of every search program),
///   - its arguments are those of its program (search_programs.h),
///   - no path names a ".." component,
///   - index homes (-H) and the folders of index files (-I) lie below the
///     system directory (SYSTEM_DIRECTORY of ROOT/setting/system_info.cfg);
///     the one other index home is the similar-term index ROOT/similar_term,
///   - result files (-o, -O) and term files (-f) lie in ROOT/search-cgi/tmp
///     or below, and are no symbolic link,
/// all after resolving links along the way; the run opens the resolved
/// paths. A refused request fails like a failed run (kExitFailure, one line
/// "<program>: refused: <reason>") and touches no file.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_SERVICE_REQUEST_H
#define SEARCHRUN_COMPANIONS_ENGINE_SERVICE_REQUEST_H

#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "companions/engine/collection_stats.h"
#include "companions/engine/index_db_cache.h"
#include "companions/engine/search_programs.h"
#include "search/engine_wire.h"
#include "system/kept_files.h"

namespace vela {

// The directories of an installation, without links.
struct ServedInstallation {
  std::string root;
  std::string cgiDir;      // root/search-cgi
  std::string scratchDir;  // root/search-cgi/tmp, where it really is
};

// The installation at `root`; false, with the reason, when root has no CGI
// directory (a real directory, no link) with its scratch directory.
bool findInstallation(const std::string& root, ServedInstallation& inst, std::string& error);

// Directories (index homes, folders of files) resolved for earlier runs,
// by the path a request named; safe for concurrent use. A path is resolved
// again once it no longer leads to the directory found, or the place found
// is no longer that directory itself (a link put there, say): a directory
// has one place, so one that is still where it was found still resolves
// the same. Runs name the same few directories again and again, and
// resolving one asks the kernel four times.
class ResolvedDirectories {
 public:
  // `path` without links (resolvedPath); false when it is not there.
  bool resolve(const std::string& path, std::string& real);

 private:
  struct Known {
    std::string real;
    dev_t dev;
    ino_t ino;
  };
  std::mutex mutex_;
  std::map<std::string, Known> known_;
};

// The admission rule above for the paths of one run from working directory
// `cwd`, given the system directory. A file the request carries (`carried`)
// is never opened on disk, so whatever stands under its name there is not
// looked at. `directories`, when given, keeps what was resolved for the
// next runs.
bool admitPaths(const ServedInstallation& inst, const std::string& systemDir,
                const std::string& cwd, const std::vector<PathUse>& uses,
                std::map<std::string, std::string>& resolved, std::string& reason,
                const CarriedFiles* carried = nullptr, ResolvedDirectories* directories = nullptr);

// Serves requests for one installation; safe for concurrent use.
// The system directory the settings of the installation at `root` name now,
// without links (systemDirectoryOf), looked up again only when the settings
// file, the folder it names or the folder that resolved to is no longer the
// one seen: every run asks for it. False when it is not set or not there.
class SystemDirectoryCache {
 public:
  bool get(const std::string& root, std::string& dir);

 private:
  std::mutex mutex_;
  bool known_ = false;
  FileStamp settings_;
  std::string configured_, dir_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

// Indexes kept open between requests, unless the service is told otherwise.
constexpr size_t kDefaultOpenIndexes = 16;

class RequestRunner {
 public:
  RequestRunner(ServedInstallation inst, size_t maxIdleDatabases);

  // Runs (or refuses) one request. `stillWanted` is asked before a result
  // is written. Files the request carries are read and written in memory;
  // the answer holds the results written to them. Never throws.
  ToolAnswer serve(const ToolRequest& request, const std::function<bool()>& stillWanted);

  IndexDbCache& databases() { return databases_; }
  PartStatsCache& statistics() { return statistics_; }
  const ServedInstallation& installation() const { return inst_; }

 private:
  const ServedInstallation inst_;
  IndexDbCache databases_;
  PartStatsCache statistics_;
  SystemDirectoryCache systemDir_;
  ResolvedDirectories directories_;
};

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_SERVICE_REQUEST_H
