/// @file fuzz_older_request.cc
/// @brief Arbitrary request texts through the threaded editions' CGI reader:
/// the rewrites (the class search with the input's second part, after a
/// zero byte, as the privilege server's answer), the parse, the "database"
/// index list and the query options.

#include <cstdint>
#include <string>

#include "cgi/cgi_string_parser.h"
#include "front/older_front.h"
#include "front/query_option.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t zero = input.find('\0');
  std::string text = input.substr(0, zero);
  const std::string answer = zero == std::string::npos ? std::string() : input.substr(zero + 1);
  decodeCGIString(text);
  text = unwrapOlderRequest(text);
  iniOptionTag ini;
  ini.privilege_server_ip = "127.0.0.1";
  ini.privilege_server_port = 1;
  rewriteOlderClassRequest(
      text, ini, [&answer](const std::string&, int, const std::string&, std::string& out) {
        out = answer;
        return !answer.empty();
      });
  const std::string rewritten = appendWmlIndexDatabase(text);
  CGIStringParser cgi;
  cgi.initialize(rewritten.data(), rewritten.size());
  VelaSearchListVector list;
  buildDatabaseList(cgi, list, false);  // no name lookups while fuzzing
  for (int language : {0, 1}) {
    queryOptionTag options;
    options.initialize(cgi, language);
    applyOlderQueryOptions(cgi, language, options);
  }
  return 0;
}
