/// @file fuzz_index_lists.cc
/// @brief Index-side files of arbitrary bytes: the record lists, the
/// database field texts and the superseded-record list, read for every
/// record they could name and some far beyond; and the file-name window over
/// arbitrary bounds.
///
/// The input is cut at each "\n#" into the contents of, in order: the file
/// name list, its "_index", the time list, the id list, db_field.info,
/// db_field.dat.0, db_field.idx.0, a file name and two bounds.

#include <vector>

#include "assemble/filter_inclist.h"
#include "search/file_name_filter.h"
#include "search/index_lists.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  for (size_t start = 0, cut = 0; cut != std::string::npos; start = cut + 2) {
    cut = input.find("\n#", start);
    parts.push_back(input.substr(start, cut - start));
  }
  parts.resize(10);
  int i = 0;
  for (const char* name :
       {"morna_filename_list", "morna_filename_list_index", "morna_time_list",
        "morna_incremental_idlist", "db_field.info", "db_field.dat.0", "db_field.idx.0"})
    fuzzscratch::write(name, parts[i++]);
  const std::string& dir = fuzzscratch::dir();
  const uint32_t records = static_cast<uint32_t>(size + 2);
  std::vector<uint32_t> ids = {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu};
  for (uint32_t r = 0; r <= records; ++r)
    ids.push_back(r);
  TextListReader names;
  NumberListReader times;
  DbFieldTexts cells;
  const bool namesOk = names.load(dir, kFileNameList) == kListOk;
  const bool timesOk = times.load(dir, kTimeList) == kListOk;
  const bool cellsOk = cells.load(dir) == kListOk;
  for (uint32_t r : ids) {
    check(!namesOk || names.text(r).size() <= parts[0].size());
    if (timesOk) times.value(r);
    for (uint32_t c : {0u, 1u, 2u, 3u, 0xFFFFFFFFu})
      check(!cellsOk || cells.cell(r, c).size() <= parts[5].size() || cells.cell(r, c) == " ");
  }
  filter_inclist inclist;
  if (inclist.init_inclist(dir, records) == kIncListOk) {
    VelaOutPtr set(VelaOut::initAlloc(4));
    set->m_match_count = set->m_output_count = 4;
    const int32_t recids[] = {0, 1, static_cast<int32_t>(records), -1};
    for (int k = 0; k < 4; ++k)
      set->m_rec[k] = {recids[k], 0, 1};
    inclist.filterInclist(*set);
    check(set->m_output_count >= 0 && set->m_output_count <= 4);
  }
  const int answer = checkFileName(parts[7], parts[8], parts[9]);
  check(answer >= -2 && answer <= 2);
  return 0;
}
