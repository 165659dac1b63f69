/// @file search_page.h
/// @brief The installation's search page: one ticked box per index, written
/// from a template each time an index is registered.

#ifndef SEARCHRUN_COMPANIONS_REGISTER_SEARCH_PAGE_H
#define SEARCHRUN_COMPANIONS_REGISTER_SEARCH_PAGE_H

#include <string>
#include <vector>

namespace reg {

// Where the template's list of indexes goes.
constexpr const char* kIndexOptionsTag = "@INDEX_OPTIONS@";
// The template and the page, relative to the installation root.
constexpr const char* kPageTemplate = "template/search_page.html";
constexpr const char* kSearchPage = "search/index.html";

struct PageIndex {
  std::string uid;   // as searchrun takes it in index_id
  std::string desc;  // as the id file holds it; the id when empty
};

// The indexes of the installation whose system directory is `systemHome`,
// by id, with the uids of this host (`hostAddress`). Reservations and
// damaged id files are left out.
std::vector<PageIndex> installedIndexes(const std::string& systemHome,
                                        const std::string& hostAddress);

// `pageTemplate` with its list of indexes filled in: a ticked box each, the
// description escaped; with none, how to register one.
std::string searchPage(const std::string& pageTemplate, const std::vector<PageIndex>& indexes);

// Writes the page of the installation at `root` (run in its CGI directory)
// from its template: replaced whole (a fresh file beside it, renamed), and
// readable by the web server. False with a message.
bool writeSearchPage(const std::string& root, std::string& error);

}  // namespace reg

#endif  // SEARCHRUN_COMPANIONS_REGISTER_SEARCH_PAGE_H
