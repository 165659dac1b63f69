/// @file fuzz_renderer_field_clauses.cc
/// @brief The clauses of a search by fields as the renderer reads them back
/// from a result's request, and the forms and links that leave them behind
/// (the renderer's sources are compiled here, as in fuzz_renderer_args.cc).

#include "cgi/cgi_string_parser.h"
#include "companions/doctext/code_pages.cc"
#include "companions/doctext/html_entities.cc"
#include "companions/doctext/library_convert_iconv.cc"
#include "companions/doctext/render_text.cc"
#include "companions/renderer/render_request.cc"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // Every field is known here, so only a missing query leaves a clause out.
  const std::vector<render::FieldClause> clauses =
      render::fieldClausesOf(input, static_cast<int>(size % 4),
                             [](const std::string& field) { return field.size() % 2 == 0; });
  check(clauses.size() <= static_cast<size_t>(render::kMaxFieldClauses));
  for (size_t i = 0; i < clauses.size(); ++i) {
    const render::FieldClause& c = clauses[i];
    check(i == 0 ? c.op.empty() : c.op == "and" || c.op == "or" || c.op == "not");
    check(!c.value.empty() && render::isUtf8(c.value) && render::isUtf8(c.field));
  }
  check(render::isUtf8(render::fieldClausesText(clauses)));
  // A form or a link with a new query never carries the clauses along.
  for (const auto& field : render::searchFormFields(input, 3))
    check(!render::isFieldSearchVariable(field.first));
  const std::string link =
      render::rewriteQueryString(input, render::fieldSearchVariables(input), {{"query", "x"}});
  CGIStringParser rewritten;
  if (rewritten.initialize(link.c_str()) > 0) {
    for (int k = 0; k < rewritten.getCgiVariableNum(); ++k)
      check(!render::isFieldSearchVariable(rewritten.findNameByIndex(k)));
  }
  return 0;
}
