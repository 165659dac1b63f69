/// @file getfilelist_main.cc
/// @brief Entry of getfilelist.exe, the page renderer: started by searchrun
/// (empty REQUEST_METHOD, arguments) or by the web server (a request naming a
/// result and a page), it writes the CGI answer for one page of a result.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "access/cookie_permit.h"
#include "companions/renderer/page_writer.h"
#include "companions/renderer/render_request.h"
#include "companions/renderer/result_page.h"
#include "front/cgi_service.h"
#include "front/cgi_string_parser.h"
#include "system/layout.h"

namespace {

constexpr const char* kTmpDir = "../tmp";
// The built-in account that searches without a permit.
constexpr const char* kTrustedUser = "TESSERA";

int answer(const render::CgiAnswer& a, int exitStatus) {
  const std::string text = a.text();
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  return exitStatus;
}

// A page requested through the web server is shown only to the user who
// searched: result names are short numbers that anyone could try in turn,
// and the hits passed that user's access filters, not the caller's.
bool mayViewResult(const std::string& user) {
  if (user == kTrustedUser) return true;
  const char* key = cgi_variable.findCgiVariableByName("ks_key");
  MyService cookies;
  if (key == nullptr) key = cookies.cookieValue("ks_key");
  return KS_CookiePermitCheck(user.c_str(), key,
                              static_cast<unsigned>(systemGetUserLoginTimeOut())) == 0;
}

// The permit key the links between pages carry: the one the request sent as
// a variable (a key kept in a cookie travels by itself).
std::string linkPermitKey(const render::RenderRequest& request, const render::ResultPage& page) {
  const char* key = nullptr;
  CGIStringParser search;
  if (request.fromWebServer) {
    key = cgi_variable.findCgiVariableByName("ks_key");
  } else if (search.initialize(page.queryUrl.c_str(), page.queryUrl.size()) > 0) {
    key = search.findCgiVariableByName("ks_key");
  }
  return key && permitKeyIsWellFormed(key) ? key : "";
}

}  // namespace

int main(int argc, char** argv) {
  const int language = systemGetLanguage();
  const char* method = std::getenv("REQUEST_METHOD");
  render::RenderRequest request;
  std::string why;
  bool ok;
  if (method != nullptr && *method != '\0') {
    cgi_variable.setSysLanuage(language);
    request.fromWebServer = true;
    ok = cgi_variable.initialize() >= 0 && render::parseWebRequest(cgi_variable, request, why);
  } else {
    ok = render::parseArgumentRequest(argc, argv, request, why);
  }
  if (!ok) return answer(render::renderProblem(request.format, 400, "Bad request: " + why), 0);

  render::ResultReader reader(kTmpDir);
  const render::LoadStatus opened = reader.open(request.result);
  if (opened == render::LoadStatus::kNotFound)
    return answer(render::renderProblem(request.format, 404, "There is no such search result."), 0);
  if (opened != render::LoadStatus::kOk)
    return answer(render::renderProblem(request.format, 500, "The search result cannot be read."),
                  1);
  if (request.fromWebServer && !mayViewResult(reader.user()))
    return answer(render::renderProblem(request.format, 403,
                                        "Please sign in again to see this search result."),
                  0);

  render::ResultPage page;
  if (reader.load(request, language, page) != render::LoadStatus::kOk)
    return answer(render::renderProblem(request.format, 500, "The search result cannot be read."),
                  1);
  render::LinkContext links;
  links.request = request;
  links.permitKey = linkPermitKey(request, page);
  return answer(render::renderResultPage(page, links), 0);
}
