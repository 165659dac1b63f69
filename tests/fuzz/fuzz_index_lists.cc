/// @file fuzz_index_lists.cc
/// @brief Index-side files of arbitrary bytes: the record lists, the
/// database field texts and the superseded-record list, read for every
/// record they could name; and the file-name window over arbitrary bounds.
///
/// The input is cut at each "\n#" into the contents of, in order: the file
/// name list, its "_index", the time list, the id list, db_field.info,
/// db_field.dat.0, db_field.idx.0, a file name and two bounds.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "assemble/filter_inclist.h"
#include "search/file_name_filter.h"
#include "search/index_lists.h"

namespace {

const char* const kFiles[] = {"morna_filename_list", "morna_filename_list_index",
                              "morna_time_list",     "morna_incremental_idlist",
                              "db_field.info",       "db_field.dat.0",
                              "db_field.idx.0"};

std::string& scratchPath() {
  static std::string dir;
  return dir;
}

void removeScratch() {
  for (const char* name : kFiles)
    std::remove((scratchPath() + "/" + name).c_str());
  rmdir(scratchPath().c_str());
}

const std::string& scratchDir() {
  if (scratchPath().empty()) {
    // A memory file system when there is one: every input writes seven files.
    char shm[] = "/dev/shm/fuzz_index_lists.XXXXXX";
    char tmp[] = "/tmp/fuzz_index_lists.XXXXXX";
    const char* path = mkdtemp(shm);
    if (path == nullptr) path = mkdtemp(tmp);
    if (path == nullptr) std::abort();
    scratchPath() = path;
    std::atexit(removeScratch);
  }
  return scratchPath();
}

void writeFile(const std::string& name, const std::string& bytes) {
  const std::string path = scratchDir() + "/" + name;
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (fp == nullptr) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), fp);
  std::fclose(fp);
}

std::vector<std::string> pieces(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t cut; (cut = input.find("\n#", start)) != std::string::npos; start = cut + 2)
    out.push_back(input.substr(start, cut - start));
  out.push_back(input.substr(start));
  out.resize(10);
  return out;
}

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = pieces(data, size);
  for (size_t i = 0; i < 7; ++i)
    writeFile(kFiles[i], parts[i]);
  const std::string& dir = scratchDir();
  const uint32_t records = static_cast<uint32_t>(size + 2);
  const uint32_t far[] = {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};

  CTextList names;
  if (names.load(dir, kFileNameList) == kListOk) {
    for (uint32_t r = 0; r <= records; ++r)
      check(names.text(r).size() <= parts[0].size());
    for (uint32_t r : far)
      check(names.text(r).size() <= parts[0].size());
  }
  CNumberList times;
  if (times.load(dir, kTimeList) == kListOk) {
    for (uint32_t r = 0; r <= records; ++r)
      times.value(r);
    for (uint32_t r : far)
      times.value(r);
  }
  CDbFieldTexts cells;
  if (cells.load(dir) == kListOk) {
    for (uint32_t r = 0; r <= records; ++r)
      for (uint32_t c = 0; c < 4; ++c)
        check(cells.cell(r, c).size() <= parts[5].size() || cells.cell(r, c) == " ");
    for (uint32_t r : far)
      cells.cell(r, far[2]);
  }

  filter_inclist inclist;
  if (inclist.init_inclist(dir, records) == kIncListOk) {
    VelaOutPtr set(VelaOut::initAlloc(4));
    const int32_t ids[] = {0, 1, static_cast<int32_t>(records), -1};
    set->m_match_count = set->m_output_count = 4;
    for (int i = 0; i < 4; ++i)
      set->m_rec[i] = {ids[i], 0, 1};
    inclist.filterInclist(*set);
    check(set->m_output_count >= 0 && set->m_output_count <= 4);
  }

  const int answer = checkFileName(parts[7], parts[8], parts[9]);
  check(answer >= -2 && answer <= 2);
  return 0;
}
