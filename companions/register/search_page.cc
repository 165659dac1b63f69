/// @file search_page.cc
/// @brief The search page's list of indexes, from the id files of the
/// installation.

#include "companions/register/search_page.h"

#include <algorithm>
#include <filesystem>

#include "output/html_makeup.h"
#include "system/address.h"
#include "system/index_id.h"
#include "system/layout.h"
#include "system/secure_file.h"

namespace reg {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxTemplateBytes = 1 << 20;

std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text)
    if (const char* entity = htmlEntityFor(c))
      out += entity;
    else
      out += c;
  return out;
}

}  // namespace

std::vector<PageIndex> installedIndexes(const std::string& systemHome,
                                        const std::string& hostAddress) {
  std::vector<std::pair<std::string, PageIndex>> found;
  std::error_code ec;
  for (fs::directory_iterator it(systemHome + "/ref", ec), end; !ec && it != end;
       it.increment(ec)) {
    const fs::path& p = it->path();
    const std::string id = p.stem().string();
    IndexIdFileMgr ids;
    // A builder's reservation is shorter than a record and does not load.
    if (p.extension() != ".id" || !ids.readIndexIdFile(p.string().c_str()) ||
        id != ids.getIndexId() || !isSafeIndexName(id.c_str()))
      continue;
    PageIndex index;
    make_index_uid(hostAddress.c_str(), id.c_str(), index.uid);
    index.desc = *ids.getIndexDesc() ? ids.getIndexDesc() : id;
    found.emplace_back(id, index);
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<PageIndex> indexes;
  for (auto& entry : found)
    indexes.push_back(std::move(entry.second));
  return indexes;
}

std::string searchPage(const std::string& pageTemplate, const std::vector<PageIndex>& indexes) {
  std::string options;
  for (const PageIndex& index : indexes)
    options += "\n    <label><input type=\"checkbox\" name=\"index_id\" value=\"" +
               escaped(index.uid) + "\" checked> " + escaped(index.desc) + "</label><br>";
  if (indexes.empty())
    options =
        "\n    <p>No index yet. As root, register a folder of documents with\n"
        "    <code>searchrun-register --desc \"Its description\" FOLDER</code>.</p>";
  std::string page = pageTemplate;
  const size_t at = page.find(kIndexOptionsTag);
  if (at != std::string::npos) page.replace(at, std::string(kIndexOptionsTag).size(), options);
  return page;
}

bool writeSearchPage(const std::string& root, std::string& error) {
  std::string pageTemplate;
  const std::string from = root + "/" + kPageTemplate, to = root + "/" + kSearchPage;
  if (!readRegularFile(from, pageTemplate, kMaxTemplateBytes)) {
    error = "cannot read the page template " + from;
    return false;
  }
  const char* home = systemGetSystemHome();
  const std::string page =
      searchPage(pageTemplate, installedIndexes(home ? home : "", systemGetIPAddress()));
  if (replaceFileAtomically(to, page, 0644)) return true;
  error = "cannot write the search page " + to;
  return false;
}

}  // namespace reg
