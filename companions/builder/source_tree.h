/// @file source_tree.h
/// @brief The documents of a source folder as the index builder may take
/// them, and the forms in which their names are recorded.
///
/// An index is shown to every user who may search it, and the builder often
/// runs with more rights than those users. So only what the folder itself
/// holds is indexed: a symbolic link counts only when its target lies inside
/// the folder (each directory is walked once, so links cannot loop), a file
/// must be readable by others, and a document is read through the directories
/// below the folder without following any link, and only when it is still the
/// file that the scan found. Hidden entries (names beginning with ".") and
/// empty files are left out; FIFOs, devices and sockets are never opened.

#ifndef SEARCHRUN_COMPANIONS_BUILDER_SOURCE_TREE_H
#define SEARCHRUN_COMPANIONS_BUILDER_SOURCE_TREE_H

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "system/address.h"
#include "system/file_identity.h"
#include "system/recorded_path.h"

namespace vela {

struct SourceFile {
  std::string rel;   // the name below the folder, bytes as listed (a link's own name)
  std::string real;  // the file that is read, below the folder: rel, or where links lead
  uint32_t mtime = 0;
  uint32_t size = 0;  // bytes, at most 0xFFFFFFFF
  dev_t dev = 0;
  ino_t ino = 0;
};

struct SourceTree {
  std::string root;               // canonical path of the folder (realpath)
  FileIdentity rootIdentity;      // of the folder the scan read
  std::vector<SourceFile> files;  // sorted by rel, byte order
  // Each file left out for a reason worth telling: its path (encoded by
  // encodeRecordedPath) and the reason.
  std::vector<std::pair<std::string, std::string>> skipped;
};

// Directories deeper than this below the folder are left out.
constexpr int kMaxSourceDepth = 128;

// Lists the documents below `folder`. False with a message when the folder
// is no directory that can be read.
bool scanSource(const std::string& folder, SourceTree& tree, std::string& error);

// Reads at most `maxBytes` of a listed document (and no more than its size at
// the scan). False when it cannot be opened through the folder without
// following a link, when it is no regular file or no longer readable by
// others, or when it is no longer the file the scan found. Never blocks on a
// FIFO put in its place.
bool readSourceFile(const SourceTree& tree, const SourceFile& file, size_t maxBytes,
                    std::string& bytes);

// The owner rule is the system's (address.h): the builder and the searches
// of other hosts' indexes hold owners to the same one.
using ::isSafeOwnerName;

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_SOURCE_TREE_H
