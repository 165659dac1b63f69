/// @file render_request.cc
/// @brief Reading the renderer's requests and writing the links between pages.

#include "companions/renderer/render_request.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "cgi/cgi_codec.h"
#include "cgi/cgi_string_parser.h"
#include "companions/doctext/render_text.h"
#include "system/numbers.h"
#include "system/tmpfile.h"

namespace render {

namespace {

constexpr std::string_view kTmpDir = "../tmp/";
constexpr std::string_view kResultStem = "query";
constexpr std::string_view kFastSuffix = "_fast";
constexpr const char* kFieldCountVariable = "MultiDBFieldCount";

// "stem" followed by a clause number: digits, no leading zero.
bool isClauseVariable(std::string_view name, std::string_view stem) {
  if (name.substr(0, stem.size()) != stem) return false;
  const std::string_view number = name.substr(stem.size());
  return !number.empty() && number[0] != '0' &&
         number.find_first_not_of("0123456789") == std::string_view::npos;
}

// Calls f with each non-empty piece of a raw query string split at "&".
template <typename F>
void forEachPiece(std::string_view raw, F f) {
  while (!raw.empty()) {
    const size_t amp = raw.find('&');
    const std::string_view piece = raw.substr(0, amp);
    raw = amp == std::string_view::npos ? std::string_view() : raw.substr(amp + 1);
    if (!piece.empty()) f(piece);
  }
}

// How searchrun joins a clause to those before it.
const char* clauseOperator(const char* op) {
  if (op == nullptr || *op == '\0' || std::strcmp(op, "&") == 0) return "and";
  if (std::strcmp(op, "|") == 0 || std::strcmp(op, "or") == 0) return "or";
  if (std::strcmp(op, "!") == 0 || std::strcmp(op, "not") == 0) return "not";
  return "and";
}

// A page number or size: "N", text that is not a number and values below 1
// give `fallback`; values above `max` give `max`.
int countArgument(const char* text, int max, int fallback) {
  if (text == nullptr) return fallback;
  const std::string_view t(text);
  int64_t value = 0;
  if (parseDecimal(t, 1, max, value)) return static_cast<int>(value);
  const bool digitsOnly = !t.empty() && t.find_first_not_of("0123456789") == t.npos;
  const bool positive = digitsOnly && t.find_first_not_of('0') != t.npos;
  return positive ? max : fallback;  // a positive number too large for the range
}

bool acceptResultName(std::string_view name, RenderRequest& out, std::string& why) {
  if (!isValidResultName(name)) {
    why = "not the name of a search result";
    return false;
  }
  out.result = std::string(name);
  return true;
}

}  // namespace

PageFormat parsePageFormat(std::string_view word) {
  if (word == "xml") return PageFormat::kXml;
  if (word == "xml2") return PageFormat::kXml2;
  if (word == "xml3") return PageFormat::kXml3;
  if (word == "wml") return PageFormat::kWml;
  if (word == "json") return PageFormat::kJson;
  return PageFormat::kHtml;
}

const char* pageFormatWord(PageFormat format) {
  switch (format) {
    case PageFormat::kXml:
      return "xml";
    case PageFormat::kXml2:
      return "xml2";
    case PageFormat::kXml3:
      return "xml3";
    case PageFormat::kWml:
      return "wml";
    case PageFormat::kJson:
      return "json";
    default:
      return "";
  }
}

bool isXmlFormat(PageFormat format) {
  return format == PageFormat::kXml || format == PageFormat::kXml2 || format == PageFormat::kXml3;
}

bool isValidResultName(std::string_view name) {
  if (name.substr(0, kResultStem.size()) != kResultStem) return false;
  std::string_view digits = name.substr(kResultStem.size());
  if (digits.size() > kFastSuffix.size() &&
      digits.substr(digits.size() - kFastSuffix.size()) == kFastSuffix) {
    digits.remove_suffix(kFastSuffix.size());
  }
  // The full count of random digits: a shorter name would be one that
  // anyone could find by trying.
  return digits.size() == kTempNameDigits &&
         digits.find_first_not_of("0123456789") == std::string_view::npos;
}

bool parseArgumentRequest(int argc, const char* const* argv, RenderRequest& out, std::string& why) {
  out = RenderRequest{};
  if (argc < 2 || argv[1] == nullptr) {
    why = "no result named";
    return false;
  }
  // The format first: a refusal is answered in it.
  out.format = parsePageFormat(argc > 4 && argv[4] ? argv[4] : "");
  std::string_view base(argv[1]);
  if (base.substr(0, kTmpDir.size()) == kTmpDir) base.remove_prefix(kTmpDir.size());
  if (!acceptResultName(base, out, why)) return false;
  out.pageSize = countArgument(argc > 2 ? argv[2] : nullptr, kMaxPageSize, 0);
  out.page = countArgument(argc > 3 ? argv[3] : nullptr, INT32_MAX, 1);
  return true;
}

bool parseWebRequest(const CGIStringParser& vars, RenderRequest& out, std::string& why) {
  out = RenderRequest{};
  out.fromWebServer = true;
  const char* format = vars.findCgiVariableByName("format");
  out.format = parsePageFormat(format ? format : "");
  if (const char* again = vars.findCgiVariableByName("again")) out.again = againRequest(again);
  const char* result = vars.findCgiVariableByName("result");
  if (result == nullptr) {
    why = "no result named";
    return false;
  }
  if (!acceptResultName(result, out, why)) return false;
  out.pageSize = countArgument(vars.findCgiVariableByName("no"), kMaxPageSize, 0);
  out.page = countArgument(vars.findCgiVariableByName("page"), INT32_MAX, 1);
  int64_t view = 0;
  const char* viewText = vars.findCgiVariableByName("view");
  if (viewText != nullptr && parseDecimal(viewText, 1, INT32_MAX, view)) out.view = view;
  const char* raw = vars.findCgiVariableByName("raw");
  out.raw = out.view > 0 && raw != nullptr && std::string_view(raw) == "1";
  return true;
}

std::string rewriteQueryString(std::string_view raw, const std::vector<std::string>& drop,
                               const std::vector<std::pair<std::string, std::string>>& add) {
  std::string out;
  auto append = [&out](std::string_view piece) {
    if (!out.empty()) out += '&';
    out += piece;
  };
  forEachPiece(raw, [&](std::string_view piece) {
    const std::string name = queryPieceName(piece, -1);
    bool dropped = false;
    for (const std::string& d : drop)
      dropped = dropped || name == d;
    for (const auto& kv : add)
      dropped = dropped || name == kv.first;
    if (!dropped) append(piece);
  });
  for (const auto& [name, value] : add)
    append(name + "=" + encodeCGIString(value));
  return out;
}

// Links are followed after the full result is written.
std::string fullResultName(const RenderRequest& req) {
  std::string name = req.result;
  if (name.size() > kFastSuffix.size() &&
      name.compare(name.size() - kFastSuffix.size(), kFastSuffix.size(), kFastSuffix) == 0) {
    name.resize(name.size() - kFastSuffix.size());
  }
  return name;
}

std::string againRequest(std::string_view queryUrl) {
  std::string again = rewriteQueryString(queryUrl, {"ks_key", "outcgipage"}, {});
  return again.size() <= kMaxAgainBytes ? again : "";
}

std::string searchQueryOf(std::string_view raw, int language) {
  CGIStringParser vars;
  vars.setSysLanuage(language);
  if (raw.empty() || vars.initialize(raw.data(), raw.size()) <= 0) return "";
  const char* query = vars.findCgiVariableByName("query");
  if (query == nullptr || vars.findCgiVariableByName(kFieldCountVariable) != nullptr) return "";
  const char* encoding = vars.findCgiVariableByName("query_encoding");
  return encoding ? charsetToUtf8(query, encoding, language) : localToUtf8(query, language);
}

std::string pageQueryString(const RenderRequest& req, int page, int pageSize) {
  std::vector<std::pair<std::string, std::string>> vars = {{"result", fullResultName(req)},
                                                           {"page", std::to_string(page)},
                                                           {"no", std::to_string(pageSize)}};
  if (req.format != PageFormat::kHtml) vars.emplace_back("format", pageFormatWord(req.format));
  if (!req.again.empty()) vars.emplace_back("again", req.again);
  return rewriteQueryString("", {}, vars);
}

std::string viewQueryString(const RenderRequest& req, int64_t rank, int pageSize, bool raw) {
  std::vector<std::pair<std::string, std::string>> vars = {{"result", fullResultName(req)},
                                                           {"view", std::to_string(rank)},
                                                           {"no", std::to_string(pageSize)}};
  if (raw) vars.emplace_back("raw", "1");
  if (!req.again.empty()) vars.emplace_back("again", req.again);
  return rewriteQueryString("", {}, vars);
}

std::vector<std::pair<std::string, std::string>> searchFormFields(std::string_view raw,
                                                                  int language) {
  std::vector<std::pair<std::string, std::string>> fields;
  CGIStringParser vars;
  vars.setSysLanuage(language);
  if (vars.initialize(raw.data(), raw.size()) <= 0) return fields;
  for (int k = 0; k < vars.getCgiVariableNum(); ++k) {
    const std::string_view name = vars.findNameByIndex(k);
    // The form has a field of its own for the query, typed in the page's
    // UTF-8 whatever encoding the first one declared.
    if (name.empty() || name == "query" || name == "query_encoding" || name == "outcgipage" ||
        name == "ks_key" || isFieldSearchVariable(name))
      continue;
    fields.emplace_back(localToUtf8(name, language),
                        localToUtf8(vars.findValueByIndex(k), language));
  }
  return fields;
}

bool isFieldSearchVariable(std::string_view name) {
  return name == kFieldCountVariable || isClauseVariable(name, "m_query_") ||
         isClauseVariable(name, "m_field_") || isClauseVariable(name, "m_op_") ||
         isClauseVariable(name, "m_type_");
}

std::vector<std::string> fieldSearchVariables(std::string_view raw) {
  // Read as rewriteQueryString reads it, which keeps what follows a zero
  // byte: a link that drops these names leaves none of them behind.
  std::vector<std::string> names;
  forEachPiece(raw, [&names](std::string_view piece) {
    std::string name = queryPieceName(piece, -1);
    if (isFieldSearchVariable(name)) names.push_back(std::move(name));
  });
  return names;
}

std::vector<FieldClause> fieldClausesOf(
    std::string_view raw, int language,
    const std::function<bool(const std::string& field)>& knownField) {
  std::vector<FieldClause> clauses;
  CGIStringParser vars;
  vars.setSysLanuage(language);
  if (raw.empty() || vars.initialize(raw.data(), raw.size()) <= 0) return clauses;
  const char* countText = vars.findCgiVariableByName(kFieldCountVariable);
  int64_t count = 0;
  if (countText == nullptr || !parseDecimal(countText, 0, kMaxFieldClauses, count)) return clauses;
  const auto variable = [&vars](const char* stem, int64_t i) {
    return vars.findCgiVariableByName((stem + std::to_string(i)).c_str());
  };
  for (int64_t i = 1; i <= count; ++i) {
    const char* query = variable("m_query_", i);
    if (query == nullptr || *query == '\0') continue;
    const char* field = variable("m_field_", i);
    if (field != nullptr && !(knownField && knownField(field))) continue;
    FieldClause clause;
    if (!clauses.empty()) clause.op = clauseOperator(variable("m_op_", i));
    if (field != nullptr) clause.field = localToUtf8(field, language);
    clause.value = localToUtf8(query, language);
    clauses.push_back(std::move(clause));
  }
  return clauses;
}

std::string fieldClausesText(const std::vector<FieldClause>& clauses) {
  std::string text;
  for (const FieldClause& c : clauses) {
    if (!c.op.empty()) text += " " + c.op + " ";
    text += (c.field.empty() ? std::string("any field") : c.field) + " " + c.value;
  }
  return text;
}

}  // namespace render
