/// @file page_service.cc
/// @brief Result pages rendered in the engine service.

#include "companions/engine_service/page_service.h"

#include <exception>
#include <string>
#include <vector>

#include "companions/records/local_files.h"
#include "companions/renderer/handed_page.h"
#include "system/fsutil.h"
#include "system/secure_file.h"

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
  render::PageEnvironment env;
  std::vector<std::string> words;
  if (!splitPageArguments(request.args, env.entries, words))
    return refused("the arguments are not those of a page");
  // The one file a page request may carry is the result its words name:
  // read in memory under that name, never looked for on disk.
  if (request.files.size() > 1 ||
      (!request.files.empty() && (words.empty() || request.files[0].path != words[0])))
    return refused("a page request carries no file but its result");
  ToolAnswer answer;
  try {
    UniqueFd given;
    if (!request.files.empty()) {
      given = createMemoryFile("page");
      if (!given || !writeAll(given.get(), request.files[0].bytes))
        return refused("no memory for the result it carries");
    }
    std::lock_guard<std::mutex> lock(mutex_);
    answer.status = render::answerHandedWords(words, env, render::Installation::read(), kResultsDir,
                                              std::move(given), answer.out, &kept_);
  } catch (const std::exception& e) {
    return refused(std::string("internal error: ") + e.what());
  }
  return answer;
}

}  // namespace vela
