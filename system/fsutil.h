/// @file fsutil.h
/// @brief Directories: creating, removing, walking.

#ifndef SEARCHRUN_SYSTEM_FSUTIL_H
#define SEARCHRUN_SYSTEM_FSUTIL_H

#include <dirent.h>

#include <string>

// Creates the directory (mode 0755 before umask: never writable by others,
// whatever the umask). True when a directory
// stands at path afterwards, also one that was already there; false for a
// file of that name or when creating fails.
bool makeDirectory(const char* path);

// Removes path and, for a directory, everything below it, without starting
// any program. Symbolic links are removed, never followed. True when nothing
// is left at path (also when nothing was there); false for an empty path or
// when some entry could not be removed.
bool deltree(const char* path);

// Deletes every file below dir (recursively; directories are kept) except
// those named keepName, compared ignoring case. Symbolic links count as
// files. 0 when done; -1 when dir or a directory below it cannot be listed
// (after "Unable to open store directory: <reason>" on standard error) or a
// file cannot be deleted.
int deltree_savefile(const char* dir, const char* keepName);

// The parent of the working directory ("/" for a directory just below the
// root), "" when the working directory cannot be found.
std::string parentOfWorkingDirectory();

// The installation of the running program: the folder two levels above it
// (ROOT/binind/program, ROOT/search-cgi/program), found through
// /proc/self/exe or, failing that, an `argv0` that holds a "/". "" when
// neither tells.
std::string installationOfProgram(const char* argv0 = nullptr);

// `path` with every link and "." or ".." resolved, as realpath gives it; false
// when nothing is there. One open and one readlink, where realpath reads
// every component of the path: the engine service resolves the paths of
// every run it makes.
bool resolvedPath(const std::string& path, std::string& out);

// Walks the entries of one directory, "." and ".." left out:
//   TraverseDir t; if (t.init(path) == 0) while (t.findNext() == 0) use(t.getFileName());
class TraverseDir {
 public:
  TraverseDir() = default;
  ~TraverseDir() { deInit(); }
  TraverseDir(const TraverseDir&) = delete;
  TraverseDir& operator=(const TraverseDir&) = delete;

  // 0 when the directory was opened, -1 otherwise.
  int init(const char* path);
  // 0 and the next entry current, or -1 when there is none left.
  int findNext();
  // Name of the current entry; "" before the first findNext and after the end.
  const char* getFileName() const { return name_.c_str(); }
  void deInit();

 private:
  DIR* dir_ = nullptr;
  std::string name_;
};

#endif  // SEARCHRUN_SYSTEM_FSUTIL_H
