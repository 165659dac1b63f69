/// @file fuzz_older_request.cc
/// @brief Arbitrary request texts through the threaded editions' CGI reader:
/// the rewrites, the parse, the "database" index list and the query options.

#include <cstdint>
#include <string>

#include "cgi/cgi_string_parser.h"
#include "front/older_front.h"
#include "front/query_option.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  decodeCGIString(text);
  const std::string rewritten = rewriteOlderRequest(text);
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
