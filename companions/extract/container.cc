/// @file container.cc
/// @brief libarchive readers with the inflation caps applied per block.

#include "companions/extract/container.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace extract {

namespace {

struct ArchiveFree {
  void operator()(archive* a) const { archive_read_free(a); }
};
using Archive = std::unique_ptr<archive, ArchiveFree>;

struct Budget {
  const ContainerCaps& caps;
  size_t containerBytes;
  size_t total = 0;

  // Counts `n` more inflated bytes of an entry already `entry` long.
  std::string charge(size_t entry, size_t n) {
    total += n;
    if (entry + n > caps.maxEntryBytes)
      return "an entry inflates past " + std::to_string(caps.maxEntryBytes >> 20) + " MiB";
    if (total > caps.maxTotalBytes)
      return "inflates past " + std::to_string(caps.maxTotalBytes >> 20) + " MiB";
    if (total > caps.ratioFloor && total / (containerBytes ? containerBytes : 1) > caps.maxRatio)
      return "inflates more than " + std::to_string(caps.maxRatio) + " times its size";
    return {};
  }
};

// The entry's content, block by block; the budget is charged before a block
// is kept.
bool readEntry(archive* a, Budget& budget, std::string& into, std::string& error) {
  char block[65536];
  size_t length = 0;
  for (;;) {
    const la_ssize_t n = archive_read_data(a, block, sizeof block);
    if (n == 0) return true;
    if (n < 0) {
      error = archive_error_string(a) ? archive_error_string(a) : "unreadable entry";
      return false;
    }
    error = budget.charge(length, static_cast<size_t>(n));
    if (!error.empty()) return false;
    length += static_cast<size_t>(n);
    into.append(block, static_cast<size_t>(n));
  }
}

ContainerRead readAll(archive* a, std::string_view bytes,
                      const std::function<bool(const std::string&)>& want,
                      const ContainerCaps& caps) {
  ContainerRead result;
  if (archive_read_open_memory(a, bytes.data(), bytes.size()) != ARCHIVE_OK) {
    result.error = "not a readable container";
    return result;
  }
  Budget budget{caps, bytes.size()};
  archive_entry* entry = nullptr;
  for (;;) {
    const int r = archive_read_next_header(a, &entry);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
      result.error = archive_error_string(a) ? archive_error_string(a) : "malformed container";
      return result;
    }
    if (result.names.size() >= caps.maxEntries) {
      result.error = "more than " + std::to_string(caps.maxEntries) + " entries";
      return result;
    }
    const char* path = archive_entry_pathname(entry);
    std::string name = path ? path : "";
    result.names.push_back(name);
    if (!want(name) || result.entries.count(name)) {
      // Skipped entries are not inflated: archive_read_data_skip moves past
      // their compressed bytes.
      if (archive_read_data_skip(a) != ARCHIVE_OK) {
        result.error = "malformed container";
        return result;
      }
      continue;
    }
    std::string content;
    if (!readEntry(a, budget, content, result.error)) return result;
    result.entries.emplace(std::move(name), std::move(content));
  }
  result.ok = true;
  return result;
}

}  // namespace

ContainerRead readZip(std::string_view bytes, const std::function<bool(const std::string&)>& want,
                      const ContainerCaps& caps) {
  Archive a(archive_read_new());
  archive_read_support_format_zip(a.get());
  return readAll(a.get(), bytes, want, caps);
}

ContainerRead readCompressed(std::string_view bytes, const ContainerCaps& caps) {
  Archive a(archive_read_new());
  archive_read_support_filter_gzip(a.get());
  archive_read_support_filter_bzip2(a.get());
  archive_read_support_filter_xz(a.get());
  archive_read_support_format_raw(a.get());
  ContainerRead read = readAll(
      a.get(), bytes, [](const std::string&) { return true; }, caps);
  if (read.ok && read.entries.empty()) {
    read.ok = false;
    read.error = "empty compressed file";
  }
  return read;
}

}  // namespace extract
