/// @file fuzz_older_multi_field.cc
/// @brief Request texts through the threaded editions' reader into their
/// multi-field form, over a scratch installation with one table index
/// ("db1", columns "name" and "price"): whatever the text says, the
/// clauses all name that index at the settings' address, at most 256 come
/// out, and every field number lies in 0..16,383.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "assemble/field_filter.h"
#include "cgi/cgi_string_parser.h"
#include "front/multi_field_request.h"
#include "front/older_front.h"
#include "search/search_request.h"
#include "system/layout.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

using fuzzscratch::check;

// The installation the requests name, made once; the working directory is
// its CGI directory, as the program's is.
void installOnce() {
  static const bool made = [] {
    namespace fs = std::filesystem;
    const std::string root = fuzzscratch::dir();
    for (const char* d :
         {"search-cgi", "setting", "system/ref", "system/group/domain/User/alice/db/db1"})
      fs::create_directories(root + "/" + d);
    fuzzscratch::write("setting/system_info.cfg",
                       "SYSTEM_DIRECTORY=" + root + "/system\nDOMAIN_NAME=domain\n");
    std::string id(152, '\0');
    id.replace(0, 3, "db1");
    id.replace(8, 5, "Fruit");
    id.replace(72, 5, "alice");
    id.replace(136, 2, "db");
    fuzzscratch::write("system/ref/db1.id", id);
    fuzzscratch::write("system/group/domain/User/alice/db/db1/column_mapping.txt",
                       "db1,t.csv,1,name,text,1\ndb1,t.csv,2,price,number,16383\n");
    check(chdir((root + "/search-cgi").c_str()) == 0);
    systemResetCaches();
    return true;
  }();
  (void)made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  installOnce();
  const std::string text = appendWmlIndexDatabase(
      unwrapOlderRequest(std::string(reinterpret_cast<const char*>(data), size)));
  CGIStringParser cgi;
  cgi.initialize(text.data(), text.size());
  iniOptionTag ini;
  ini.query_server_ip = "10.0.0.9";
  ini.query_server_port = 30001;
  VelaSearchListVector list;
  SearchMultiIndexVector clauses;
  std::string joined;
  const int built =
      buildSearchMultiIndex(cgi, ini, list, clauses, joined, size % 2, static_cast<int>(size % 3));
  check(built >= kMultiFieldRefused && built <= kMaxMultiFieldClauses);
  check(clauses.size() == list.size() && list.size() == static_cast<size_t>(built < 0 ? 0 : built));
  for (size_t i = 0; i < list.size(); ++i) {
    const velaSearchList& e = list[i];
    check(e.ipAddr == "10.0.0.9" && e.port == "30001" && e.idxName == "db1" && e.owner == "alice");
    check(e.m_digit_field == -1 || e.m_digit_field == 1 || e.m_digit_field == 16383);
    check(clauses[i].m_query_term.size() < static_cast<size_t>(kQuerySize));
  }
  return 0;
}
