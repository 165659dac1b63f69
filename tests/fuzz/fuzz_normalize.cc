/// @file fuzz_normalize.cc
/// @brief Feeds arbitrary queries, reported queries and half-to-full tables
/// to the query rewrites: every result stays inside the 6,144-byte buffer,
/// even when the query fills it without a terminator.
///
/// Input: byte 0 picks the language (and, from 0xF0 on, that a table is
/// given), byte 1 the length of the table text that follows; the rest is the
/// query, a zero byte, and a reported query.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "front/query_normalize.h"
#include "front/query_option.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

using Rewrite = void (*)(char*, int);

// A query buffer of exactly kQuerySize bytes on the heap.
std::unique_ptr<char[]> queryBuffer(const std::string& query) {
  std::unique_ptr<char[]> buffer(new char[kQuerySize]);
  const size_t n = std::min(query.size(), static_cast<size_t>(kQuerySize));
  std::memcpy(buffer.get(), query.data(), n);
  if (n < static_cast<size_t>(kQuerySize)) buffer[n] = '\0';  // a full buffer stays unterminated
  return buffer;
}

void checkQuery(const char* buffer) {
  if (strnlen(buffer, kQuerySize) >= static_cast<size_t>(kQuerySize)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string root = fuzzscratch::dir();
  std::filesystem::create_directories(root + "/search-cgi");
  std::filesystem::create_directories(root + "/setting");
  return chdir((root + "/search-cgi").c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int language = data[0] % 5 - 1;
  const size_t tableLength = std::min<size_t>(data[1], size - 2);
  const std::string table(reinterpret_cast<const char*>(data + 2), tableLength);
  const std::string rest(reinterpret_cast<const char*>(data + 2 + tableLength),
                         size - 2 - tableLength);
  const size_t zero = rest.find('\0');
  const std::string query = rest.substr(0, zero);
  const std::string reported = zero == std::string::npos ? "" : rest.substr(zero + 1);

  // Files are slow: only inputs with byte 0 from 0xF0 on bring a table, and
  // the file is touched only when the table changes.
  static bool hadTable = true;
  static std::string lastTable = "\x01 not written yet";
  if (data[0] >= 0xF0 && (!hadTable || table != lastTable)) {
    fuzzscratch::write("setting/h2f_user.txt", reinterpret_cast<const uint8_t*>(table.data()),
                       table.size());
    resetH2FUserTableForTests();
    hadTable = true;
    lastTable = table;
  } else if (data[0] < 0xF0 && hadTable) {
    std::remove((fuzzscratch::dir() + "/setting/h2f_user.txt").c_str());
    resetH2FUserTableForTests();
    hadTable = false;
  }

  const Rewrite rewrites[] = {changeQuery_H2F, changeQuery_Space, changeQuery_DBCS_contact_bool,
                              queryStringChangeSpaceToBool};
  for (Rewrite fn : rewrites) {
    auto buffer = queryBuffer(query);
    fn(buffer.get(), language);
    checkQuery(buffer.get());
  }

  // The blank rewrite leaves nothing for a second pass to do.
  auto once = queryBuffer(query);
  changeQuery_Space(once.get(), language);
  const std::string first = once.get();
  changeQuery_Space(once.get(), language);
  if (first != once.get()) __builtin_trap();

  std::string term;
  getUsedQueryTerm(query.c_str(), term, data[0] & 1, language);
  if (term.size() >= static_cast<size_t>(kQuerySize)) __builtin_trap();

  auto retQuery = queryBuffer(query.substr(0, kQuerySize - 1));
  addRetQuery(retQuery.get(), reported.c_str(), language);
  checkQuery(retQuery.get());
  return 0;
}
