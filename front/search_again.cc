/// @file search_again.cc
/// @brief The search form of message pages.

#include "front/search_again.h"

#include <cstring>

#include "cgi/cgi_string_parser.h"
#include "output/html_makeup.h"

namespace {

// What a new search keeps of the request besides the query.
constexpr const char* kKept[] = {"user",   "index_id", "search_no", "sort",     "order",
                                 "no_rec", "match",    "chinese",   "thesaurus"};

// Where the installation's search page lies, seen from the programs' folder.
constexpr const char* kSearchPage = "../search/index.html";

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (const char* entity = htmlEntityFor(c))
      out += entity;
    else
      out += c;
  }
  return out;
}

bool kept(const char* name, const FormOmissions& omit) {
  for (const std::string& left : omit.names) {
    if (left == name) return false;
  }
  for (const char* k : kKept) {
    if (std::strcmp(name, k) == 0) return true;
  }
  return false;
}

}  // namespace

std::string searchAgainForm(const CGIStringParser& request, const std::string& query,
                            const FormOmissions& omit) {
  std::string form = "<form class=\"again\" action=\"searchrun\" method=\"get\">\n";
  int indexIds = 0;
  for (int k = 0; k < request.getCgiVariableNum(); ++k) {
    const char* name = request.findNameByIndex(k);
    const char* value = request.findValueByIndex(k);
    if (name == nullptr || value == nullptr || !kept(name, omit)) continue;
    if (std::strcmp(name, "index_id") == 0 && omit.indexIdsKept >= 0 &&
        indexIds++ >= omit.indexIdsKept)
      continue;
    form +=
        "<input type=\"hidden\" name=\"" + escaped(name) + "\" value=\"" + escaped(value) + "\">\n";
  }
  form += "<label for=\"again-query\">Search again</label><br>\n";
  form += "<input type=\"search\" id=\"again-query\" name=\"query\" value=\"" + escaped(query) +
          "\">\n<button type=\"submit\">Search</button>\n";
  form += std::string("<p><a href=\"") + kSearchPage + "\">Back to the search page</a></p>\n";
  form += "</form>";
  return form;
}

const char* pageCharsetName(int language) {
  switch (language) {
    case 0:
      return "Big5";
    case 1:
      return "Shift_JIS";
    case 2:
      return "GBK";
    default:
      return "UTF-8";
  }
}

const char* pageLanguageCode(int language) {
  switch (language) {
    case 0:
      return "zh-Hant";
    case 1:
      return "ja";
    case 2:
      return "zh-Hans";
    default:
      return "en";
  }
}
