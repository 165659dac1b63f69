/// @file document_view.cc
/// @brief The document view of a hit and the answer with its own bytes.

#include "companions/renderer/document_view.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cgi/cgi_codec.h"
#include "companions/doctext/render_text.h"
#include "companions/doctext/snippet.h"
#include "companions/records/local_files.h"
#include "system/strings.h"

namespace render {

namespace {

// Bytes of a document looked at to tell text from binary and its charset.
constexpr size_t kRawHeadBytes = 64 * 1024;

std::string esc(std::string_view text) {
  return escapeMarkup(text);
}

std::string anchor(const std::string& url, const std::string& escapedText) {
  return "<a href=\"" + esc(url) + "\">" + escapedText + "</a>";
}

std::string grouped(size_t n) {
  std::string digits = std::to_string(n);
  RefineMatchCount(digits);
  return digits;
}

std::string lowerExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return "";
  std::string ext = name.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return ext;
}

bool oneOf(const std::string& ext, std::initializer_list<const char*> list) {
  return std::any_of(list.begin(), list.end(), [&](const char* e) { return ext == e; });
}

bool looksLikeText(std::string_view head) {
  return head.substr(0, 5) != "%PDF-" &&
         std::memchr(head.data(), '\0', std::min<size_t>(head.size(), 8192)) == nullptr;
}

// The charset names browsers know for the local code pages.
const char* webCharsetName(int language) {
  const std::string_view local = localCharset(language);
  if (local == "CP950") return "Big5";
  if (local == "CP932") return "Shift_JIS";  // which browsers read as the Windows page
  if (local == "GBK") return "GBK";
  return "windows-1252";  // text that is not UTF-8 on an English installation
}

// The ways from a view: to the original file (a document; a row has none),
// to the first match, and to the hits before and after.
void viewLinks(const ResultPage& page, const HitView& hit, const LinkContext& links, bool original,
               bool hasMatch, std::string& out) {
  std::vector<std::string> actions;
  if (original)
    actions.push_back(anchor(viewLinkUrl(links, page, hit.rank, true), "Open the original file"));
  if (hasMatch) actions.emplace_back("<a href=\"#first-match\">First match</a>");
  if (hit.rank > 1)
    actions.push_back(anchor(viewLinkUrl(links, page, hit.rank - 1), "&laquo; Previous hit"));
  if (hit.rank < page.linesInFile)
    actions.push_back(anchor(viewLinkUrl(links, page, hit.rank + 1), "Next hit &raquo;"));
  if (actions.empty()) return;
  out += "<p class=\"actions\">";
  for (size_t i = 0; i < actions.size(); ++i)
    out += (i ? " | " : "") + actions[i];
  out += "</p>\n";
}

// The start of a view: the way back to the result page, the title, and
// `location` (escaped; "" for none) over the hit's date, size and index.
std::string viewHead(const ResultPage& page, const HitView& hit, const std::string& title,
                     const std::string& location, const LinkContext& links) {
  std::string out = htmlHead(page.language, title + " - Search");
  out += "<header><p class=\"home\">" +
         anchor(pageLinkUrl(links, page, page.page), "&laquo; Back to the results");
  if (!page.mainPageUrl.empty()) out += " | " + anchor(page.mainPageUrl, "Search page");
  out += "</p></header>\n<main>\n<h1>" + esc(title) + "</h1>\n";
  if (!location.empty()) out += "<div class=\"location\">" + location + "</div>\n";
  out += "<div class=\"meta\">";
  if (hit.time != 0) out += esc(formatDate(hit.time)) + " - ";
  if (hit.hasSize) out += formatSize(hit.size) + " - ";
  out += esc(hit.indexDesc) + relevanceNote(hit.line.score, page.bestScore) + "</div>\n";
  return out;
}

CgiAnswer htmlView(const ResultPage& page, std::string body) {
  CgiAnswer answer;
  answer.contentType = "text/html; charset=UTF-8";
  answer.noStore = page.user != kBuiltInUser;
  answer.body = std::move(body);
  return answer;
}

}  // namespace

CgiAnswer renderDocumentView(const ResultPage& page, const HitView& hit, const DocumentView& doc,
                             const LinkContext& links) {
  const std::string& title = !doc.title.empty()       ? doc.title
                             : !hit.title.empty()     ? hit.title
                             : !hit.firstLine.empty() ? hit.firstLine
                                                      : hit.fileName;
  std::string out =
      viewHead(page, hit, title, esc(hit.location.empty() ? hit.fileName : hit.location), links);
  const std::vector<SnippetPiece> pieces = markTerms(doc.text, page.terms);
  const size_t matches = static_cast<size_t>(
      std::count_if(pieces.begin(), pieces.end(), [](const SnippetPiece& p) { return p.term; }));
  viewLinks(page, hit, links, true, matches > 0, out);
  if (doc.text.empty()) {
    out +=
        "<p class=\"note\">This document has no text to show here; the original file may "
        "still open on your computer.</p>\n";
  } else {
    out += "<p class=\"note\">" + (matches == 0
                                       ? std::string("The search terms do not occur in this text.")
                                       : grouped(matches) + (matches == 1 ? " match" : " matches") +
                                             " of the search terms.");
    if (doc.cut)
      out += " Only the first " + formatSize(kMaxViewBytes) +
             " of the document is shown here; the original file holds all of it.";
    out += "</p>\n<div class=\"doc" + std::string(hit.html ? "" : " text") + "\">";
    bool first = true;
    for (const SnippetPiece& p : pieces) {
      if (!p.term) {
        out += esc(p.text);
        continue;
      }
      out += first ? "<mark id=\"first-match\">" : "<mark>";
      out += esc(p.text) + "</mark>";
      first = false;
    }
    out += "</div>\n";
  }
  out += "</main>\n</body></html>\n";
  return htmlView(page, std::move(out));
}

CgiAnswer renderRowView(const ResultPage& page, const HitView& hit, const LinkContext& links) {
  const std::string& title = !hit.title.empty()    ? hit.title
                             : !hit.fields.empty() ? hit.fields.front().second
                                                   : hit.fileName;
  std::string out = viewHead(page, hit, title, "", links);
  viewLinks(page, hit, links, false, false, out);
  out += "<table class=\"cells\"><caption>The row's columns</caption>\n";
  for (const auto& [name, value] : hit.fields)
    out += "<tr><th scope=\"row\">" + esc(name) + "</th><td>" + esc(value) + "</td></tr>\n";
  out += "</table>\n</main>\n</body></html>\n";
  return htmlView(page, std::move(out));
}

RawType rawTypeOf(const std::string& fileName, std::string_view head, int language) {
  const std::string ext = lowerExtension(fileName);
  RawType type;
  if (ext == "pdf") {
    type.contentType = "application/pdf";
  } else if (oneOf(ext, {"doc", "dot"})) {
    type.contentType = "application/msword";
  } else if (oneOf(ext, {"xls", "xlt"})) {
    type.contentType = "application/vnd.ms-excel";
  } else if (oneOf(ext, {"ppt", "pps"})) {
    type.contentType = "application/vnd.ms-powerpoint";
  } else if (ext == "docx") {
    type.contentType = "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
  } else if (ext == "xlsx") {
    type.contentType = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";
  } else if (ext == "pptx") {
    type.contentType = "application/vnd.openxmlformats-officedocument.presentationml.presentation";
  } else if (oneOf(ext, {"odt", "ods", "odp"})) {
    type.contentType = ext == "odt"   ? "application/vnd.oasis.opendocument.text"
                       : ext == "ods" ? "application/vnd.oasis.opendocument.spreadsheet"
                                      : "application/vnd.oasis.opendocument.presentation";
  } else if (ext == "rtf") {
    type.contentType = "application/rtf";
  } else if (oneOf(ext, {"zip", "gz", "tgz", "tar", "png", "jpg", "jpeg", "gif", "svg", "svgz",
                         "exe", "dll", "so", "o", "bin", "mp3", "mp4", "avi", "iso"}) ||
             !looksLikeText(head)) {
    // Images and archives too are saved: an SVG would run its script here.
    type.contentType = "application/octet-stream";
  } else {
    // Text of any kind, HTML included: shown as its source, never rendered.
    type.shownInline = true;
    type.contentType = "text/plain";
    type.contentType +=
        std::string("; charset=") +
        (isUtf8(head, head.size() >= kRawHeadBytes) ? "utf-8" : webCharsetName(language));
  }
  return type;
}

std::string contentDisposition(const std::string& fileName, bool shownInline) {
  std::string ascii;
  for (const char c : fileName) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    ascii += plain && !(c == '.' && ascii.empty()) ? c : '_';
  }
  if (ascii.find_first_not_of('_') == std::string::npos) ascii = "document";
  std::string value = shownInline ? "inline" : "attachment";
  value += "; filename=\"" + ascii + "\"";
  if (!fileName.empty()) value += "; filename*=UTF-8''" + encodeCGIString(sanitizeUtf8(fileName));
  return value;
}

CgiAnswer rawDocumentAnswer(const ResultPage& page, const HitView& hit, int fd) {
  std::string head;
  readFromStart(fd, kRawHeadBytes, head);
  return rawDocumentAnswer(page, hit, std::string_view(head));
}

CgiAnswer rawDocumentAnswer(const ResultPage& page, const HitView& hit, std::string_view head) {
  head = head.substr(0, kRawHeadBytes);
  const RawType type = rawTypeOf(hit.fileName, head, page.language);
  CgiAnswer answer;
  answer.contentType = type.contentType;
  answer.contentDisposition = contentDisposition(hit.fileName, type.shownInline);
  answer.sandbox = true;
  answer.noStore = page.user != kBuiltInUser;
  return answer;
}

bool copyDocument(int fd, uint64_t size, std::FILE* out) {
  if (lseek(fd, 0, SEEK_SET) != 0) return false;
  char buf[65536];
  while (size > 0) {
    const ssize_t got = read(fd, buf, static_cast<size_t>(std::min<uint64_t>(size, sizeof buf)));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    if (std::fwrite(buf, 1, static_cast<size_t>(got), out) != static_cast<size_t>(got))
      return false;
    size -= static_cast<uint64_t>(got);
  }
  return std::fflush(out) == 0;
}

}  // namespace render
