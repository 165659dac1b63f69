/// @file handed_page.cc
/// @brief A page searchrun hands over, as a string; the shared problem pages.

#include "companions/renderer/handed_page.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "access/cookie_permit.h"
#include "search/engine_wire.h"
#include "system/cookie_scope.h"

namespace render {

PageEnvironment PageEnvironment::ofProcess() {
  PageEnvironment env;
  for (const char* name : vela::kPageVariables)
    if (const char* value = std::getenv(name))
      env.entries.push_back(std::string(name) + "=" + value);
  return env;
}

const char* PageEnvironment::get(const char* name) const {
  const size_t length = std::strlen(name);
  for (const std::string& entry : entries)
    if (entry.size() > length && entry[length] == '=' && entry.compare(0, length, name) == 0)
      return entry.c_str() + length + 1;
  return nullptr;
}

Problem problemOf(int status, const char* code, std::string message, const std::string& raw,
                  int language) {
  Problem p;
  p.status = status;
  p.code = code;
  p.message = std::move(message);
  if (!raw.empty()) {
    p.searchKnown = true;
    p.query = searchQueryOf(raw, language);
    p.fields = searchFormFields(raw, language);
    p.againUrl = LinkContext{}.searchUrl + "?" + raw;
  }
  return p;
}

CgiAnswer problemAnswer(const RenderRequest& request, const Problem& problem, int language) {
  LinkContext links;
  links.request = request;
  return renderProblem(request.format, problem, language, links);
}

CgiAnswer loadProblemAnswer(const RenderRequest& request, LoadStatus status, int language) {
  if (status == LoadStatus::kRecordsUnreadable)
    return problemAnswer(request,
                         problemOf(500, problem_code::kRecordsUnreadable,
                                   "The records of an index this search found cannot be read: "
                                   "the index may be damaged, or built again since the search. "
                                   "Please search again.",
                                   request.again, language),
                         language);
  return problemAnswer(request,
                       problemOf(500, problem_code::kResultUnreadable,
                                 "The search result cannot be read.", request.again, language),
                       language);
}

void scopeCookie(CgiAnswer& answer, const std::string& key, const PageEnvironment& env) {
  answer.permitCookie = key;
  answer.cookiePath = cookiePath(env.get("SCRIPT_NAME"));
  answer.secureCookie = requestOverHttps(env.get("HTTPS"), env.get("REQUEST_SCHEME"));
}

int answerHandedWords(const std::vector<std::string>& words, const PageEnvironment& env,
                      const Installation& inst, const std::string& tmpDir, UniqueFd given,
                      std::string& answer, KeptIndexDirectories* kept) {
  const int language = inst.language;
  std::vector<const char*> argv = {"getfilelist.exe"};
  for (const std::string& word : words)
    argv.push_back(word.c_str());
  RenderRequest request;
  std::string why;
  // `why` is one of the parser's fixed reasons: nothing of the request or
  // of the file system is echoed.
  if (!parseArgumentRequest(static_cast<int>(argv.size()), argv.data(), request, why)) {
    answer = problemAnswer(request,
                           problemOf(400, problem_code::kBadRequest, "Bad request: " + why,
                                     request.again, language),
                           language)
                 .text();
    return 0;
  }
  ResultReader reader(tmpDir, inst);
  reader.keepIndexDirectoriesIn(kept);
  if (given) reader.give(request.result, std::move(given));
  const LoadStatus opened = reader.open(request.result);
  if (opened == LoadStatus::kNotFound) {
    answer = problemAnswer(request,
                           problemOf(404, problem_code::kNoResult,
                                     "There is no such search result.", request.again, language),
                           language)
                 .text();
    return 0;
  }
  if (opened != LoadStatus::kOk) {
    answer = loadProblemAnswer(request, opened, language).text();
    return 1;
  }
  ResultPage page;
  const LoadStatus loaded = reader.load(request, page);
  if (loaded != LoadStatus::kOk) {
    answer = loadProblemAnswer(request, loaded, language).text();
    return 1;
  }
  LinkContext links;
  links.request = request;
  links.request.again = againRequest(page.queryUrl);
  CgiAnswer result = renderResultPage(page, links);
  const char* key = env.get(kPermitKeyVariable);
  scopeCookie(result, key != nullptr && permitKeyIsWellFormed(key) ? key : "", env);
  answer = result.text();
  return 0;
}

}  // namespace render
