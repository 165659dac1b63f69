/// @file container.h
/// @brief The entries of a zip container and the content of a single
/// compressed file, read through libarchive under caps that hold while
/// inflating: a container that would inflate past a cap is refused as soon
/// as the cap is crossed, never after.

#ifndef SEARCHRUN_COMPANIONS_EXTRACT_CONTAINER_H
#define SEARCHRUN_COMPANIONS_EXTRACT_CONTAINER_H

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace extract {

struct ContainerCaps {
  size_t maxEntries = 10000;                 // entries listed, wanted or not
  size_t maxEntryBytes = size_t{64} << 20;   // one entry, inflated
  size_t maxTotalBytes = size_t{256} << 20;  // every entry read, inflated
  // Inflated bytes per byte of the container, once past `ratioFloor`
  // inflated bytes (small files compress well and harm nobody).
  size_t maxRatio = 100;
  size_t ratioFloor = size_t{16} << 20;
};

struct ContainerRead {
  bool ok = false;
  std::string error;                           // when !ok
  std::map<std::string, std::string> entries;  // name -> inflated bytes, the wanted ones
  std::vector<std::string> names;              // every entry name, in container order
};

// Reads a zip container held in `bytes`; the content of an entry is kept
// when `want(name)` says so. Fails on a malformed container or a cap crossed.
ContainerRead readZip(std::string_view bytes, const std::function<bool(const std::string&)>& want,
                      const ContainerCaps& caps);

// The content of a gzip, bzip2 or xz file in `bytes`, under the same caps.
ContainerRead readCompressed(std::string_view bytes, const ContainerCaps& caps);

}  // namespace extract

#endif  // SEARCHRUN_COMPANIONS_EXTRACT_CONTAINER_H
