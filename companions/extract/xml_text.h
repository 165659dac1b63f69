/// @file xml_text.h
/// @brief XML of documents read safely, and the text of its elements.
///
/// Every document is parsed by libxml2 with no entity expansion beyond the
/// predefined ones, no DTD loading, no network and the parser's own size
/// limits in force; an external entity loader refuses every resource. An
/// entity reference in the text is skipped, never followed.

#ifndef SEARCHRUN_COMPANIONS_EXTRACT_XML_TEXT_H
#define SEARCHRUN_COMPANIONS_EXTRACT_XML_TEXT_H

#include <libxml/tree.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace extract {

struct XmlDocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using XmlDoc = std::unique_ptr<xmlDoc, XmlDocFree>;

// The parsed document, or null when the bytes are not well-formed XML.
XmlDoc parseXml(std::string_view bytes);
// HTML (an EPUB chapter or a mail part that is not XML), leniently.
XmlDoc parseHtml(std::string_view bytes);

// What an element adds to the text around its content, by local name.
struct TextRule {
  const char* name;
  enum Action {
    kSkip,       // neither it nor its content
    kLineAfter,  // a line break after its content (a paragraph)
    kTabAfter,   // a tab after it (a table cell)
    kPageAfter,  // a form feed after it (a page, slide or sheet)
    kSpace,      // a blank in place of the element (an empty spacer)
    kTab,        // a tab in place of the element
    kLine,       // a line break in place of the element
  } action;
};

// The text under `node`: text and CDATA content in document order, with the
// rules applied to the elements named by them (other elements add nothing).
// Stops adding past `maxBytes` of text.
std::string elementText(const xmlNode* node, const std::vector<TextRule>& rules,
                        size_t maxBytes = size_t{256} << 20);

// The local name of an element ("t" for "w:t").
std::string_view localName(const xmlNode* node);
// The first element below `node` (any depth, document order) with that
// local name, or null.
const xmlNode* findElement(const xmlNode* node, std::string_view name);
// Every element directly under `node` with that local name.
std::vector<const xmlNode*> childElements(const xmlNode* node, std::string_view name);
// The value of an attribute by local name, "" when missing.
std::string attribute(const xmlNode* node, std::string_view name);
// The text of an element with no rules, blanks around it trimmed.
std::string plainText(const xmlNode* node);

// The text of an HTML body: scripts and styles left out, block elements
// ended by a line break.
std::string htmlText(const xmlNode* root);

// Sets up libxml2 once per process (entity loader, no error output).
void initXml();

}  // namespace extract

#endif  // SEARCHRUN_COMPANIONS_EXTRACT_XML_TEXT_H
