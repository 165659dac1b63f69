/// @file result_files.cc
/// @brief Whole-file reading and host-order 32-bit entries.

#include "search/result_files.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "system/lines.h"
#include "system/secure_file.h"

bool readWholeFile(const std::string& path, std::string& out) {
  out.clear();
  std::unique_ptr<FILE, FileCloser> fp(fopenRegular(path.c_str()));
  if (!fp) return false;
  char buffer[16384];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, fp.get())) > 0)
    out.append(buffer, got);
  return !std::ferror(fp.get());
}

bool uint32At(const std::string& bytes, uint64_t i, uint32_t& value) {
  constexpr size_t kEntrySize = sizeof value;
  if (i >= bytes.size() / kEntrySize) return false;
  std::memcpy(&value, bytes.data() + i * kEntrySize, kEntrySize);
  return true;
}
