/// @file handed_page.h
/// @brief The page of a result that searchrun hands over (its words, as the
/// renderer's command line has them), made into a string: by getfilelist.exe
/// for its own answer, and by the engine service, which renders pages
/// without a process of their own. Also the problem pages both kinds of
/// request share.

#ifndef SEARCHRUN_COMPANIONS_RENDERER_HANDED_PAGE_H
#define SEARCHRUN_COMPANIONS_RENDERER_HANDED_PAGE_H

#include <string>
#include <vector>

#include "companions/records/local_files.h"
#include "companions/renderer/page_writer.h"
#include "companions/renderer/render_request.h"
#include "companions/renderer/result_page.h"
#include "system/fsutil.h"

namespace render {

// The variables of the run a page depends on ("NAME=value" each, of the
// names vela::kPageVariables lists): the permit key searchrun admitted the
// request with, and where the cookie that carries it goes.
struct PageEnvironment {
  std::vector<std::string> entries;

  // This process's own values of those names.
  static PageEnvironment ofProcess();
  // The value of `name`; null when it is not set.
  const char* get(const char* name) const;
};

// Where searchrun hands over the key of a permit the request carried as a
// variable: never on a command line, where every account could read it.
constexpr const char* kPermitKeyVariable = "KS_PERMIT_KEY";

// A problem whose page offers the search of `raw` (a search request as
// againRequest keeps it) again: a link that runs it and a form with its
// variables. The renderer's own variables are never in it, so a search
// from the page does not meet the same fault.
Problem problemOf(int status, const char* code, std::string message, const std::string& raw,
                  int language);
CgiAnswer problemAnswer(const RenderRequest& request, const Problem& problem, int language);
// The failure page of a result that could not be loaded; the search is
// offered again when the request carried it.
CgiAnswer loadProblemAnswer(const RenderRequest& request, LoadStatus status, int language);

// The cookie goes back to the CGI directory of this request only, where
// searchrun and the renderer both live.
void scopeCookie(CgiAnswer& answer, const std::string& key, const PageEnvironment& env);

// The answer to searchrun's words `words` (the command line after the
// program's name) for the installation `inst`, whose results lie in
// `tmpDir`: the page, or the page of the problem. `given`, when open, is
// the result the words name, read as if found under that name. `kept`,
// when given, keeps the index directories the records are read from for
// the pages that follow. Returns the exit status the renderer ends with.
int answerHandedWords(const std::vector<std::string>& words, const PageEnvironment& env,
                      const Installation& inst, const std::string& tmpDir, UniqueFd given,
                      std::string& answer, KeptIndexDirectories* kept = nullptr);

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_RENDERER_HANDED_PAGE_H
