/// @file page_service.cc
/// @brief Result pages rendered in the engine service.

#include "companions/engine_service/page_service.h"

#include <exception>
#include <string>
#include <vector>

#include "companions/records/local_files.h"
#include "companions/renderer/handed_page.h"
#include "system/fsutil.h"

namespace vela {

namespace {

constexpr const char* kResultsDir = "../tmp";

ToolAnswer refused(const std::string& reason) {
  ToolAnswer answer;
  answer.status = kExitFailure;
  answer.err = std::string(toolName(Tool::kPage)) + ": refused: " + reason + "\n";
  return answer;
}

}  // namespace

ToolAnswer PageService::serve(const ToolRequest& request) {
  std::string cwd;
  if (request.cwd != inst_.cgiDir && (request.cwd.empty() || request.cwd[0] != '/' ||
                                      !resolvedPath(request.cwd, cwd) || cwd != inst_.cgiDir))
    return refused("the request does not come from the CGI directory");
  if (!request.files.empty()) return refused("a page request carries no file");
  render::PageEnvironment env;
  std::vector<std::string> words;
  if (!splitPageArguments(request.args, env.entries, words))
    return refused("the arguments are not those of a page");
  ToolAnswer answer;
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    answer.status = render::answerHandedWords(words, env, render::Installation::read(), kResultsDir,
                                              UniqueFd(), answer.out);
  } catch (const std::exception& e) {
    return refused(std::string("internal error: ") + e.what());
  }
  return answer;
}

}  // namespace vela
