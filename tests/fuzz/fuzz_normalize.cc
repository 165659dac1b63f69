/// @file fuzz_normalize.cc
/// @brief Arbitrary queries, reported queries and half-to-full tables through
/// the query rewrites: every result stays inside the 6,144-byte buffer, even
/// when the query fills it without a terminator.
///
/// Input: byte 0 picks the language (and, from 0xF0 on, that a table is
/// given), byte 1 the length of the table text that follows; the rest is the
/// query, a zero byte, and a reported query.

#include <unistd.h>

#include <cstring>
#include <vector>

#include "front/query_normalize.h"
#include "front/query_option.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

// A query buffer of exactly kQuerySize bytes on the heap; a full one stays unterminated.
std::vector<char> queryBuffer(const std::string& query) {
  std::vector<char> buffer(kQuerySize, '\0');
  query.copy(buffer.data(), kQuerySize);
  return buffer;
}

void checkTerminated(const std::vector<char>& buffer) {
  fuzzscratch::check(std::memchr(buffer.data(), '\0', buffer.size()) != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::filesystem::create_directories(fuzzscratch::dir() + "/search-cgi");
  std::filesystem::create_directories(fuzzscratch::dir() + "/setting");
  return chdir((fuzzscratch::dir() + "/search-cgi").c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int language = data[0] % 5 - 1;
  const size_t tableLength = std::min<size_t>(data[1], size - 2);
  const std::string input(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::string rest = input.substr(tableLength);
  const std::string query = rest.substr(0, rest.find('\0'));
  const std::string reported = rest.size() > query.size() ? rest.substr(query.size() + 1) : "";
  if (data[0] >= 0xF0)
    fuzzscratch::write("setting/h2f_user.txt", input.substr(0, tableLength));
  else
    std::filesystem::remove(fuzzscratch::dir() + "/setting/h2f_user.txt");
  resetH2FUserTable();
  using Rewrite = void (*)(char*, int);
  for (Rewrite rewrite :
       {Rewrite{changeQuery_H2F}, Rewrite{changeQuery_Space},
        Rewrite{changeQuery_DBCS_contact_bool}, Rewrite{queryStringChangeSpaceToBool}}) {
    std::vector<char> buffer = queryBuffer(query);
    rewrite(buffer.data(), language);
    checkTerminated(buffer);
  }
  // The blank rewrite leaves nothing for a second pass to do.
  std::vector<char> once = queryBuffer(query);
  changeQuery_Space(once.data(), language);
  const std::string first = once.data();
  changeQuery_Space(once.data(), language);
  fuzzscratch::check(first == once.data());
  std::string term;
  getUsedQueryTerm(query.c_str(), term, data[0] & 1, language);
  fuzzscratch::check(term.size() < static_cast<size_t>(kQuerySize));
  std::vector<char> retQuery = queryBuffer(query.substr(0, kQuerySize - 1));
  addRetQuery(retQuery.data(), reported.c_str(), language);
  checkTerminated(retQuery);
  return 0;
}
