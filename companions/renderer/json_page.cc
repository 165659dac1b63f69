/// @file json_page.cc
/// @brief The result page for programs that read JSON (page_writer.h gives
/// its shape): the same hits as the XML answer.

#include <string>

#include "companions/doctext/render_text.h"
#include "companions/renderer/page_writer.h"

namespace render {

namespace {

// Members are written in order; the writer adds the commas.
class JsonObject {
 public:
  explicit JsonObject(std::string& out) : out_(out) { out_ += '{'; }
  ~JsonObject() { out_ += '}'; }
  JsonObject(const JsonObject&) = delete;
  JsonObject& operator=(const JsonObject&) = delete;

  // The key; its value is appended by the caller next.
  std::string& key(const char* name) {
    if (!first_) out_ += ',';
    first_ = false;
    out_ += jsonString(name);
    out_ += ':';
    return out_;
  }
  void text(const char* name, std::string_view value) { key(name) += jsonString(value); }
  void number(const char* name, int64_t value) { key(name) += std::to_string(value); }
  void flag(const char* name, bool value) { key(name) += value ? "true" : "false"; }
  void null(const char* name) { key(name) += "null"; }
  // A text, or null when it is empty (not known).
  void textOrNull(const char* name, std::string_view value) {
    if (value.empty())
      null(name);
    else
      text(name, value);
  }

 private:
  std::string& out_;
  bool first_ = true;
};

// An array of objects, one written by `write` per item.
template <typename Items, typename Write>
void jsonObjects(const Items& items, Write write, std::string& out) {
  out += '[';
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    JsonObject o(out);
    write(o, items[i]);
  }
  out += ']';
}

void jsonTexts(const std::vector<std::string>& texts, std::string& out) {
  out += '[';
  for (size_t i = 0; i < texts.size(); ++i)
    out += (i ? "," : "") + jsonString(texts[i]);
  out += ']';
}

void jsonHit(const HitView& hit, const ResultPage& page, const LinkContext& links,
             std::string& out) {
  JsonObject o(out);
  o.number("rank", hit.rank);
  o.text("file", hit.fileName);
  o.text("title", hit.title.empty() ? hit.firstLine : hit.title);
  o.textOrNull("location", hit.location);
  o.textOrNull("date", formatIsoDate(hit.time));
  if (hit.time != 0)
    o.number("epoch", hit.time);
  else
    o.null("epoch");
  if (hit.hasSize)
    o.number("size", hit.size);
  else
    o.null("size");
  {
    JsonObject index(o.key("index"));
    index.text("id", hit.line.index);
    index.text("owner", hit.line.owner);
    index.text("host", hit.line.host);
    index.text("name", hit.indexDesc);
  }
  o.number("score", hit.line.score);
  o.textOrNull("relevance", relevanceWord(hit.line.score, page.bestScore));
  o.number("record", hit.line.recid);
  o.text("snippet", snippetText(hit.snippet));
  o.textOrNull("view", hit.local ? viewLinkUrl(links, page, hit.rank) : "");
  o.textOrNull("similar",
               hit.similarQuery.empty() ? "" : queryLinkUrl(links, page, hit.similarQuery));
  // Records of the same content are one hit: how many, and where the others lie.
  if (hit.copies.empty()) {
    o.null("copies");
  } else {
    JsonObject copies(o.key("copies"));
    copies.number("count", static_cast<int64_t>(hit.copies.size() + 1));
    jsonTexts(hit.copies, copies.key("others"));
  }
  // A row of a database index names its columns; a document has none.
  if (hit.fields.empty()) {
    o.null("fields");
  } else {
    jsonObjects(
        hit.fields,
        [](JsonObject& f, const std::pair<std::string, std::string>& field) {
          f.text("name", field.first);
          f.text("value", field.second);
        },
        o.key("fields"));
  }
}

// A link to page p of the result, or null when there is no such page.
void pageLink(JsonObject& o, const char* name, const ResultPage& page, const LinkContext& links,
              int64_t p) {
  if (p < 1 || p > page.pageCount)
    o.null(name);
  else
    o.text(name, pageLinkUrl(links, page, p));
}

// Links to the pages of the result, so that a program pages through it
// without building URLs of its own.
void pageLinks(const ResultPage& page, const LinkContext& links, std::string& out) {
  JsonObject l(out);
  pageLink(l, "self", page, links, page.page);
  pageLink(l, "first", page, links, 1);
  pageLink(l, "previous", page, links, page.page - 1);
  pageLink(l, "next", page, links, page.page + 1);
  pageLink(l, "last", page, links, page.pageCount);
}

}  // namespace

std::string jsonResultBody(const ResultPage& page, const LinkContext& links) {
  std::string out;
  {
    JsonObject o(out);
    o.number("version", 1);
    o.text("result", fullResultName(links.request));
    {
      JsonObject q(o.key("query"));
      q.text("typed", page.queryTyped);
      q.text("understood", page.queryUnderstood);
      jsonTexts(page.terms, q.key("terms"));
      q.flag("disallowed", page.queryDisallowed);
      // A search by fields: each clause, what the search was instead of a query.
      if (page.fieldClauses.empty()) {
        q.null("fields");
      } else {
        jsonObjects(
            page.fieldClauses,
            [](JsonObject& c, const FieldClause& clause) {
              c.textOrNull("op", clause.op);
              c.textOrNull("field", clause.field);
              c.text("value", clause.value);
            },
            q.key("fields"));
      }
    }
    o.text("index", page.selectedIndex);
    o.number("run_time_ms", page.runTimeMs);
    {
      JsonObject sort(o.key("sort"));
      sort.text("field", page.sortField);
      sort.text("order", page.sortOrder);
    }
    if (!page.dateWindow) {
      o.null("date_window");
    } else {
      JsonObject window(o.key("date_window"));
      window.text("from", page.dateFrom);
      window.text("to", page.dateTo);
    }
    o.number("total", page.totalHits);
    o.number("page", page.page);
    o.number("per_page", page.pageSize);
    o.number("pages", page.pageCount);
    o.number("count", static_cast<int64_t>(page.hits.size()));
    o.flag("complete", !page.linesMissing);
    pageLinks(page, links, o.key("links"));
    std::string& hits = o.key("hits");
    hits += '[';
    for (size_t i = 0; i < page.hits.size(); ++i) {
      if (i) hits += ',';
      jsonHit(page.hits[i], page, links, hits);
    }
    hits += ']';
    std::vector<std::string> related;
    for (const TermLink& t : page.relatedTerms)
      related.push_back(t.text);
    jsonTexts(related, o.key("related_terms"));
    jsonObjects(
        page.similarKeywords,
        [](JsonObject& k, const TermLink& t) {
          k.text("keyword", t.text);
          k.number("score", t.score);
        },
        o.key("similar_keywords"));
    std::string& classes = o.key("classes");
    classes += '[';
    for (size_t i = 0; i < page.classes.size(); ++i) {
      if (i) classes += ',';
      JsonObject c(classes);
      c.text("uid", localToUtf8(page.classes[i].uid, page.language));
      c.text("name", page.classes[i].name);
    }
    classes += ']';
    std::string& indexes = o.key("indexes");
    indexes += '[';
    for (size_t i = 0; i < page.indexes.size(); ++i) {
      if (i) indexes += ',';
      JsonObject e(indexes);
      e.text("id", page.indexes[i].name);
      e.text("owner", page.indexes[i].owner);
      e.number("hits", page.indexes[i].matches);
      e.text("name", page.indexes[i].desc);
    }
    indexes += ']';
  }
  return out + "\n";
}

}  // namespace render
