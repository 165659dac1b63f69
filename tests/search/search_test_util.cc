/// @file search_test_util.cc
/// @brief Builders for the search tests.

#include "tests/search/search_test_util.h"

#include <cstring>

#include "search/uint7.h"
#include "tests/test_util.h"

namespace searchtest {

const std::string FD("\x12\x13\x14", 3);
const std::string END("\x15\x16\x17", 3);
const std::string VD("\x12\x14\x16", 3);

std::string coded(uint32_t value) {
  std::string out;
  g_addUInt_7U(value, out);
  return out;
}

std::string pairBytes(const std::vector<Hit>& hits) {
  std::string out;
  for (const Hit& h : hits)
    out += coded(h.score) + coded(h.recid);
  return out;
}

std::string numberKeys(const std::vector<uint32_t>& values) {
  std::string out;
  for (uint32_t v : values)
    out += coded(v);
  return out;
}

std::string textKeys(const std::vector<std::string>& values) {
  std::string out;
  for (const std::string& v : values)
    out += v + VD;
  return out;
}

std::string sectionBytes(const std::vector<Hit>& hits, const std::string& keys) {
  return std::to_string(hits.size()) + FD + pairBytes(hits) + FD + std::to_string(keys.size() + 3) +
         FD + keys + END;
}

std::string u32s(const std::vector<uint32_t>& values) {
  std::string out(values.size() * 4, '\0');
  if (!values.empty()) std::memcpy(&out[0], values.data(), out.size());
  return out;
}

std::string binoutFile(const std::string& matched, const std::vector<Hit>& hits) {
  return matched + "\n" + coded(static_cast<uint32_t>(hits.size())) + pairBytes(hits);
}

VelaOutPtr makeSet(const std::vector<Hit>& hits, const char* matched) {
  VelaOutPtr set(VelaOut::initAlloc(static_cast<int>(hits.size())));
  set->m_match_count = set->m_output_count = static_cast<int32_t>(hits.size());
  std::strncpy(set->m_matched_str, matched, kMatchedStrSize - 1);
  set->m_matched_str[kMatchedStrSize - 1] = '\0';
  for (size_t i = 0; i < hits.size(); ++i)
    set->m_rec[i] = {static_cast<int32_t>(hits[i].recid), static_cast<int32_t>(hits[i].score), 1};
  return set;
}

void writeTextList(const std::string& dir, const std::string& name,
                   const std::vector<std::string>& texts) {
  std::string all;
  std::vector<uint32_t> ends;
  for (const std::string& t : texts) {
    all += t;
    ends.push_back(static_cast<uint32_t>(all.size()));
  }
  testutil::writeFile(dir + "/" + name, all);
  testutil::writeFile(dir + "/" + name + "_index", u32s(ends));
}

void writeNumberList(const std::string& dir, const std::string& name,
                     const std::vector<uint32_t>& values) {
  testutil::writeFile(dir + "/" + name, u32s(values));
}

void writeRecordCount(const std::string& dir, uint32_t count) {
  const double size = 1000;
  std::string bytes = u32s({count});
  bytes.append(reinterpret_cast<const char*>(&size), sizeof size);
  testutil::writeFile(dir + "/.vela_log_1", bytes);
}

void writeDbFields(const std::string& home, uint32_t columns, const std::vector<DbBlock>& blocks) {
  std::vector<uint32_t> info{columns};
  for (size_t k = 0; k < blocks.size(); ++k) {
    info.push_back(blocks[k].firstRecord);
    std::string texts;
    std::vector<uint32_t> ends;
    for (const std::string& cell : blocks[k].cells) {
      texts += cell;
      ends.push_back(static_cast<uint32_t>(texts.size()));
    }
    const std::string suffix = "." + std::to_string(k);
    testutil::writeFile(home + "/db_field.dat" + suffix, texts);
    testutil::writeFile(home + "/db_field.idx" + suffix, u32s(ends));
  }
  testutil::writeFile(home + "/db_field.info", u32s(info));
}

}  // namespace searchtest
