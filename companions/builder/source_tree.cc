/// @file source_tree.cc
/// @brief Walking a source folder through directory descriptors, and reading
/// its documents without following links.

#include "companions/builder/source_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <set>
#include <utility>

#include "system/secure_file.h"

namespace vela {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// A FIFO put in a document's place must not stall the open.
constexpr int kFileFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

std::string join(const std::string& dir, const std::string& name) {
  return dir.empty() ? name : dir + "/" + name;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Splits a path below the folder into its parent ("" for the folder) and
// its last name.
std::pair<std::string, std::string> splitLast(const std::string& rel) {
  const size_t slash = rel.rfind('/');
  if (slash == std::string::npos) return {"", rel};
  return {rel.substr(0, slash), rel.substr(slash + 1)};
}

// Opens the directory `rel` below the folder open at `rootFd`, one name at a
// time and never through a link, so that a link swapped in for a directory
// cannot lead out of the folder.
UniqueFd openDirBelow(int rootFd, const std::string& rel) {
  UniqueFd dir(fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
  size_t pos = 0;
  while (dir && pos < rel.size()) {
    size_t end = rel.find('/', pos);
    if (end == std::string::npos) end = rel.size();
    const std::string name = rel.substr(pos, end - pos);
    if (name.empty() || name == "." || name == "..") return UniqueFd();
    dir = UniqueFd(openat(dir.get(), name.c_str(), kDirFlags));
    pos = end + 1;
  }
  return dir;
}

bool hasHiddenName(const std::string& rel) {
  return !rel.empty() && (rel[0] == '.' || rel.find("/.") != std::string::npos);
}

class Scanner {
 public:
  Scanner(SourceTree& tree, int rootFd) : tree_(tree), rootFd_(rootFd) {}

  void walk(int dirFd, const std::string& rel, const std::string& real, int depth) {
    std::vector<std::string> names;
    {
      DIR* d = fdopendir(fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
      if (d == nullptr) return;
      while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.emplace_back(e->d_name);  // hidden, "." and ".."
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      struct stat st;
      if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      const std::string childRel = join(rel, name), childReal = join(real, name);
      if (S_ISDIR(st.st_mode)) {
        enter(dirFd, name, childRel, childReal, depth);
      } else if (S_ISREG(st.st_mode)) {
        add(childRel, childReal, st);
      } else if (S_ISLNK(st.st_mode)) {
        links_.emplace_back(childRel, depth);
      }
    }
  }

  // Links are followed after the walk, so that every directory of the
  // folder is listed under its own path and a link to one adds nothing.
  void followLinks() {
    for (size_t i = 0; i < links_.size(); ++i) {
      const auto [rel, depth] = links_[i];
      follow(rel, depth);
    }
  }

  void markVisited(int dirFd) {
    struct stat st;
    if (fstat(dirFd, &st) == 0) visited_.insert({st.st_dev, st.st_ino});
  }

 private:
  // Walks a directory once, however many links lead to it.
  void enter(int parentFd, const std::string& name, const std::string& rel, const std::string& real,
             int depth) {
    if (depth + 1 > kMaxSourceDepth) {
      note(rel, "deeper than " + std::to_string(kMaxSourceDepth) + " folders");
      return;
    }
    UniqueFd dir(openat(parentFd, name.c_str(), kDirFlags));
    struct stat st;
    if (!dir || fstat(dir.get(), &st) != 0) {
      note(rel, "the folder cannot be read");
      return;
    }
    if (!visited_.insert({st.st_dev, st.st_ino}).second) return;
    // Others could not reach the files of a folder they cannot enter, however
    // open the files themselves are.
    if (!(st.st_mode & S_IXOTH)) {
      note(rel, "a folder others cannot enter");
      return;
    }
    walk(dir.get(), rel, real, depth + 1);
  }

  void follow(const std::string& rel, int depth) {
    char* resolved = realpath(join(tree_.root, rel).c_str(), nullptr);
    if (resolved == nullptr) return;  // leads nowhere
    const std::string target(resolved);
    std::free(resolved);
    const std::string inside = tree_.root == "/" ? "/" : tree_.root + "/";
    if (!startsWith(target, inside)) {
      if (target != tree_.root) note(rel, "a link to outside the source folder");
      return;
    }
    const std::string real = target.substr(inside.size());
    if (hasHiddenName(real)) return;
    const auto [parent, name] = splitLast(real);
    UniqueFd parentFd = openDirBelow(rootFd_, parent);
    struct stat st;
    if (!parentFd || fstatat(parentFd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (S_ISDIR(st.st_mode)) {
      enter(parentFd.get(), name, rel, real, depth);
    } else if (S_ISREG(st.st_mode)) {
      add(rel, real, st);
    }
  }

  void add(const std::string& rel, const std::string& real, const struct stat& st) {
    if (st.st_size == 0) return;
    // The index shows the file's words and first line to every user who may
    // search it: a file they could not read themselves stays out.
    if (!(st.st_mode & S_IROTH)) {
      note(rel, "not readable by others");
      return;
    }
    SourceFile f;
    f.rel = rel;
    f.real = real;
    f.mtime = static_cast<uint32_t>(st.st_mtime);
    f.size = st.st_size > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(st.st_size);
    f.dev = st.st_dev;
    f.ino = st.st_ino;
    tree_.files.push_back(std::move(f));
  }

  void note(const std::string& rel, const std::string& why) {
    tree_.skipped.emplace_back(encodeRecordedPath(rel), why);
  }

  SourceTree& tree_;
  int rootFd_;
  std::set<std::pair<dev_t, ino_t>> visited_;
  std::vector<std::pair<std::string, int>> links_;
};

}  // namespace

bool scanSource(const std::string& folder, SourceTree& tree, std::string& error) {
  tree = SourceTree();
  char* resolved = realpath(folder.c_str(), nullptr);
  UniqueFd root(resolved ? open(resolved, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1);
  if (resolved) tree.root = resolved;
  std::free(resolved);
  struct stat st;
  if (!root || fstat(root.get(), &st) != 0) {
    error = "source folder " + folder + " is not a readable directory";
    return false;
  }
  // Of the folder opened, not of what the path names by now.
  tree.rootIdentity = identityOf(st);
  Scanner scanner(tree, root.get());
  scanner.markVisited(root.get());
  scanner.walk(root.get(), "", "", 0);
  scanner.followLinks();
  std::sort(tree.files.begin(), tree.files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.rel < b.rel; });
  return true;
}

bool readSourceFile(const SourceTree& tree, const SourceFile& file, size_t maxBytes,
                    std::string& bytes) {
  bytes.clear();
  UniqueFd root(open(tree.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root) return false;
  const auto [parent, name] = splitLast(file.real);
  UniqueFd dir = openDirBelow(root.get(), parent);
  if (!dir || name.empty() || name == "." || name == "..") return false;
  UniqueFd fd(openat(dir.get(), name.c_str(), kFileFlags));
  struct stat st;
  if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !(st.st_mode & S_IROTH) ||
      st.st_dev != file.dev || st.st_ino != file.ino)
    return false;
  // Sized by the file as scanned (a file that grew since is read that far):
  // a buffer of the largest size for every document made building crawl.
  return readUpTo(fd.get(), bytes, std::min<size_t>(file.size, maxBytes));
}

}  // namespace vela
