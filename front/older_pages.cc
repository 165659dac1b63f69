/// @file older_pages.cc
/// @brief The threaded editions' plain message pages, HTML and XML.

#include <cstdio>
#include <string>

#include "front/older_front.h"
#include "front/older_front_parts.h"
#include "front/query_option.h"
#include "front/request_state.h"

namespace {

using olderfront::kLanguageGB;
using olderfront::kLanguageJP;
using olderfront::readSmallFile;

void copyTemplate(FILE* out, const char* name) {
  std::string text;
  if (readSmallFile(std::string("../template/") + name, text)) std::fputs(text.c_str(), out);
}

}  // namespace

void monitorReport(FILE* out, int language, const std::string& message) {
  std::fputs("Content-type:text/html\n\n", out);
  const bool jp = language == kLanguageJP;
  if (jp) {
    std::fputs(
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=shift_jis\">\n"
        "<div align=\"center\">\n<table width=\"325\" align=\"center\"><tr><td><b>Message of "
        "Quorvane</b></td></tr></table>\n<hr color=\"#808080\">\n",
        out);
  } else if (language == 0 || language == kLanguageGB) {
    copyTemplate(out, "msg_header.html");
  }
  std::fputs(jp ? "<h2>" : "<span class=\"black_16\">", out);
  std::fprintf(out, "\n%s\n", message.c_str());
  std::fputs(jp ? "</h2>" : "</span>", out);
  if (jp) {
    std::fputs("<script src=\"/query/footer.js\"></script>\n</div>", out);
  } else if (language == 0 || language == kLanguageGB) {
    copyTemplate(out, "msg_footer.html");
  }
  std::fflush(out);
}

void monitorXMLReport(FILE* out, int language, const std::string& message) {
  std::fputs("Content-type:text/xml\n\n", out);
  if (language == kLanguageJP) std::fputs("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n", out);
  if (language == 0) std::fputs("<?xml version=\"1.0\" encoding=\"BIG5\"?>\n", out);
  // "]]>" would end the section early: it is split across two.
  std::string safe = message;
  for (size_t at = 0; (at = safe.find("]]>", at)) != std::string::npos; at += 12)
    safe.replace(at, 3, "]]]]><![CDATA[>");
  std::fprintf(out,
               "<search_result>\n<message type=\"0\">\n<![CDATA[%s]]></message>\n"
               "</search_result>\n",
               safe.c_str());
  std::fflush(out);
}

int olderAnswerRunEnd(const RunEnd& end) {
  std::string message = msg_table.value(end.message.c_str());
  if (message.empty()) message = end.message;
  if (end.page == RunEnd::Page::kNumber) {
    // A text may say where its number goes; otherwise the number follows it.
    const std::string number = std::to_string(end.number);
    const size_t at = message.find("$$NUMBER$$");
    if (at != std::string::npos)
      message.replace(at, 10, number);
    else
      message += " (" + number + ")";
  }
  if (queryOption.xml_format == 1)
    monitorXMLReport(stdout, langFlag, message);
  else
    monitorReport(stdout, langFlag, message);
  return end.exitStatus;
}
