/// @file service_request.cc
/// @brief Admission of service requests and their runs.

#include "companions/engine/service_request.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <sstream>

#include "system/fsutil.h"
#include "system/kept_files.h"

namespace vela {

namespace {

// The path without links; false when it is not there.
bool canonical(const std::string& path, std::string& out) {
  return resolvedPath(path, out);
}

bool isBelow(const std::string& path, const std::string& dir, bool orEqual) {
  if (path == dir) return orEqual;
  const std::string prefix = dir == "/" ? dir : dir + "/";
  return path.compare(0, prefix.size(), prefix) == 0;
}

bool hasDotDot(const std::string& path) {
  size_t start = 0;
  for (;;) {
    const size_t end = path.find('/', start);
    if (path.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0)
      return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

// A path in a reason stays on its line.
std::string shown(std::string path) {
  for (char& c : path)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return path;
}

const char* roleName(PathRole role) {
  switch (role) {
    case PathRole::kIndexHome:
      return "index home";
    case PathRole::kIndexFile:
      return "index file";
    case PathRole::kResultFile:
      return "result file";
    case PathRole::kTermFile:
      return "term file";
  }
  return "path";
}

// Folders already resolved for one run's paths (a result file and a term
// file share the scratch folder): without links, as found once.
using ResolvedFolders = std::map<std::string, std::string>;

// A kept directory that still stands where it was found.
bool stillThere(const std::string& path, const std::string& real, dev_t dev, ino_t ino) {
  struct stat st;
  const auto same = [&] { return S_ISDIR(st.st_mode) && st.st_dev == dev && st.st_ino == ino; };
  // The place found without following a link; the path named through its
  // links, when it has any.
  return lstat(real.c_str(), &st) == 0 && same() &&
         (path == real || (stat(path.c_str(), &st) == 0 && same()));
}

// Checks one path; on success `opened` is the path the run opens.
bool admitOne(const ServedInstallation& inst, const std::string& systemDir, const std::string& cwd,
              const PathUse& use, ResolvedFolders& folders, const CarriedFiles* carried,
              ResolvedDirectories* directories, std::string& opened, std::string& reason) {
  const auto resolveDirectory = [directories](const std::string& path, std::string& real) {
    return directories ? directories->resolve(path, real) : canonical(path, real);
  };
  const std::string what = std::string(roleName(use.role)) + " " + shown(use.path);
  if (use.path.empty()) {
    reason = std::string("an empty ") + roleName(use.role);
    return false;
  }
  if (hasDotDot(use.path)) {
    reason = "the " + what + " has a \"..\" component";
    return false;
  }
  const std::string full = use.path[0] == '/' ? use.path : cwd + "/" + use.path;
  if (use.role == PathRole::kIndexHome) {
    // The installation's similar-term index is the one index outside it.
    const std::string similarTerms = (inst.root == "/" ? "" : inst.root) + "/similar_term";
    if (!resolveDirectory(full, opened) ||
        (!isBelow(opened, systemDir, false) && opened != similarTerms)) {
      reason = "the " + what + " is not an index of the system directory";
      return false;
    }
    return true;
  }
  // A file: its folder without links, the file itself as named there.
  const size_t slash = full.find_last_of('/');
  const std::string folder = slash == 0 ? "/" : full.substr(0, slash);
  const std::string name = full.substr(slash + 1);
  const auto known = folders.find(folder);
  std::string realFolder = known == folders.end() ? std::string() : known->second;
  if (name.empty() || name == "." ||
      (realFolder.empty() && !resolveDirectory(folder, realFolder))) {
    reason = "the " + what + " names no file";
    return false;
  }
  folders.emplace(folder, realFolder);
  const bool inIndex = use.role == PathRole::kIndexFile;
  if (inIndex ? !isBelow(realFolder, systemDir, false)
              : !isBelow(realFolder, inst.scratchDir, true)) {
    reason =
        "the " + what + " lies outside the " + (inIndex ? "system directory" : "scratch directory");
    return false;
  }
  opened = (realFolder == "/" ? "" : realFolder) + "/" + name;
  // (A carried file's name is one nothing has made on disk: looking it up
  // would search the scratch folder, thousands of results long, for nothing.)
  const bool inMemory = carried != nullptr && carried->given.count(use.path) != 0;
  struct stat st;
  if (!inIndex && !inMemory && lstat(opened.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    reason = "the " + what + " is a symbolic link";
    return false;
  }
  return true;
}

}  // namespace

bool findInstallation(const std::string& root, ServedInstallation& inst, std::string& error) {
  ServedInstallation found;
  if (!canonical(root, found.root)) {
    error = root + " is not there";
    return false;
  }
  const std::string base = found.root == "/" ? "" : found.root;
  found.cgiDir = base + "/search-cgi";
  // The CGI directory must be the one just below the root: the programs
  // find their settings one level up from it. Its scratch folder may be a
  // link the owner of the installation made (a packaged installation keeps
  // its data apart); files are admitted by where they really are.
  std::string real;
  struct stat st;
  if (!canonical(found.cgiDir, real) || real != found.cgiDir ||
      !canonical(found.cgiDir + "/tmp", found.scratchDir) ||
      stat(found.scratchDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = root + " has no search-cgi/tmp of its own (an installation root is needed)";
    return false;
  }
  inst = found;
  return true;
}

bool SystemDirectoryCache::get(const std::string& root, std::string& dir) {
  const std::string settings = root + "/setting/system_info.cfg";
  struct stat s, named, resolved;
  std::lock_guard<std::mutex> lock(mutex_);
  // A setting that names the directory without links is looked at once.
  if (known_ && stat(settings.c_str(), &s) == 0 && FileStamp::of(s) == settings_ &&
      stat(configured_.c_str(), &named) == 0 &&
      (configured_ == dir_ ? (resolved = named, true) : stat(dir_.c_str(), &resolved) == 0) &&
      S_ISDIR(resolved.st_mode) && resolved.st_dev == dev_ && resolved.st_ino == ino_ &&
      named.st_dev == dev_ && named.st_ino == ino_) {
    dir = dir_;
    return true;
  }
  known_ = false;
  // The settings are looked at before they are read: a change in between
  // is seen by the next run.
  if (stat(settings.c_str(), &s) != 0 || !configuredSystemDirectory(root, configured_) ||
      !canonical(configured_, dir) || stat(dir.c_str(), &resolved) != 0)
    return false;
  settings_ = FileStamp::of(s);
  dir_ = dir;
  dev_ = resolved.st_dev;
  ino_ = resolved.st_ino;
  known_ = true;
  return true;
}

bool ResolvedDirectories::resolve(const std::string& path, std::string& real) {
  // A bound on what hostile requests can make it hold.
  constexpr size_t kMaxKept = 4096;
  Known known{};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = known_.find(path);
    if (found != known_.end()) known = found->second;
  }
  if (!known.real.empty() && stillThere(path, known.real, known.dev, known.ino)) {
    real = known.real;
    return true;
  }
  struct stat st;
  if (!canonical(path, real)) return false;
  // Only a directory found in its place is kept; anything else is resolved
  // every time.
  if (lstat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  if (known_.size() >= kMaxKept) known_.clear();
  known_[path] = Known{real, st.st_dev, st.st_ino};
  return true;
}

bool admitPaths(const ServedInstallation& inst, const std::string& systemDir,
                const std::string& cwd, const std::vector<PathUse>& uses,
                std::map<std::string, std::string>& resolved, std::string& reason,
                const CarriedFiles* carried, ResolvedDirectories* directories) {
  std::map<std::string, std::string> admitted;
  ResolvedFolders folders;
  for (const PathUse& use : uses) {
    std::string opened;
    if (!admitOne(inst, systemDir, cwd, use, folders, carried, directories, opened, reason))
      return false;
    // One text opened two ways (a home given again as a result file) would
    // be resolved for one role only: both must agree.
    const auto [at, fresh] = admitted.emplace(use.path, opened);
    if (!fresh && at->second != opened) {
      reason = "the path " + shown(use.path) + " is named for two uses";
      return false;
    }
  }
  resolved.insert(admitted.begin(), admitted.end());
  return true;
}

RequestRunner::RequestRunner(ServedInstallation inst, size_t maxIdleDatabases)
    : inst_(std::move(inst)), databases_(maxIdleDatabases) {}

ToolAnswer RequestRunner::serve(const ToolRequest& request,
                                const std::function<bool()>& stillWanted) {
  std::ostringstream out, err;
  RunContext ctx;
  ctx.root = inst_.root;
  ctx.cwd = request.cwd;
  ctx.out = &out;
  ctx.err = &err;
  ctx.databases = &databases_;
  ctx.statistics = &statistics_;
  ctx.stillWanted = stillWanted;
  CarriedFiles carried;
  for (const CarriedFile& file : request.files)
    carried.given.emplace(file.path, file.bytes);
  if (!request.files.empty()) ctx.carried = &carried;
  ToolAnswer answer;
  try {
    // The CGI directory as the service found it needs no second look: every
    // path of the run is still resolved and admitted on its own.
    std::string cwd = request.cwd == inst_.cgiDir ? inst_.cgiDir : std::string();
    if (cwd.empty() && (request.cwd.empty() || request.cwd[0] != '/' ||
                        !canonical(request.cwd, cwd) || cwd != inst_.cgiDir)) {
      answer.status =
          failRun(request.tool, ctx, "refused: the request does not come from the CGI directory");
    } else {
      std::string systemDir;
      const bool haveSystem = systemDir_.get(inst_.root, systemDir);
      if (haveSystem) ctx.systemDir = systemDir;
      answer.status =
          runTool(request.tool, request.args, ctx,
                  [&](const std::vector<PathUse>& uses,
                      std::map<std::string, std::string>& resolved, std::string& reason) {
                    if (haveSystem)
                      return admitPaths(inst_, systemDir, cwd, uses, resolved, reason, ctx.carried,
                                        &directories_);
                    reason = "the installation names no system directory";
                    return false;
                  });
    }
  } catch (const std::exception& e) {
    err.str("");
    answer.status = failRun(request.tool, ctx, std::string("internal error: ") + e.what());
  }
  answer.out = out.str();
  answer.err = err.str();
  for (auto& [path, bytes] : carried.made)
    answer.files.push_back({path, std::move(bytes)});
  return answer;
}

}  // namespace vela
