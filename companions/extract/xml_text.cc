/// @file xml_text.cc
/// @brief libxml2 set up against hostile documents, and a walk over the
/// text of a parsed tree.

#include "companions/extract/xml_text.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <cstring>

namespace extract {

namespace {

// No entity substitution (XML_PARSE_NOENT), no DTD loading or validation,
// no network, no huge-document allowance: those are left out on purpose.
constexpr int kXmlOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
constexpr int kHtmlOptions =
    HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NOIMPLIED;

xmlParserInputPtr refuseEntity(const char*, const char*, xmlParserCtxtPtr) {
  return nullptr;
}

void ignoreError(void*, const char*, ...) {}

void ignoreStructuredError(void*, xmlErrorPtr) {}

int sizeOf(std::string_view bytes) {
  return bytes.size() > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(bytes.size());
}

struct Walker {
  const std::vector<TextRule>& rules;
  size_t maxBytes;
  std::string out;

  const TextRule* ruleFor(const xmlNode* node) const {
    const std::string_view name = localName(node);
    for (const TextRule& rule : rules)
      if (name == rule.name) return &rule;
    return nullptr;
  }

  void add(const char* text) {
    if (out.size() < maxBytes) out.append(text, std::min(strlen(text), maxBytes - out.size()));
  }

  // Iterative, so that deeply nested input cannot exhaust the stack (the
  // parser's own depth limit stands too).
  void walk(const xmlNode* top) {
    std::vector<std::pair<const xmlNode*, const TextRule*>> stack;
    const xmlNode* node = top->children;
    while (node || !stack.empty()) {
      if (!node) {
        const auto [parent, rule] = stack.back();
        stack.pop_back();
        closeElement(rule);
        node = parent->next;
        continue;
      }
      if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
        if (node->content) add(reinterpret_cast<const char*>(node->content));
      } else if (node->type == XML_ELEMENT_NODE) {
        const TextRule* rule = ruleFor(node);
        if (!openElement(rule) && node->children) {
          stack.emplace_back(node, rule);
          node = node->children;
          continue;
        }
        closeElement(rule);
      }
      // Entity references (XML_ENTITY_REF_NODE) are passed over: their
      // children are the entity's declaration, shared by every reference.
      node = node->next;
    }
  }

  // True when the element's content is not walked.
  bool openElement(const TextRule* rule) {
    if (!rule) return false;
    switch (rule->action) {
      case TextRule::kSkip:
        return true;
      case TextRule::kSpace:
        add(" ");
        return true;
      case TextRule::kTab:
        add("\t");
        return true;
      case TextRule::kLine:
        add("\n");
        return true;
      default:
        return false;
    }
  }

  void closeElement(const TextRule* rule) {
    if (!rule) return;
    if (rule->action == TextRule::kLineAfter) add("\n");
    if (rule->action == TextRule::kTabAfter) add("\t");
    if (rule->action == TextRule::kPageAfter) add("\f");
  }
};

}  // namespace

void initXml() {
  static const bool done = [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(refuseEntity);
    xmlSetGenericErrorFunc(nullptr, ignoreError);
    xmlSetStructuredErrorFunc(nullptr, ignoreStructuredError);
    return true;
  }();
  (void)done;
}

XmlDoc parseXml(std::string_view bytes) {
  initXml();
  const int size = sizeOf(bytes);
  if (size < 0) return nullptr;
  return XmlDoc(xmlReadMemory(bytes.data(), size, "document.xml", nullptr, kXmlOptions));
}

XmlDoc parseHtml(std::string_view bytes) {
  initXml();
  const int size = sizeOf(bytes);
  if (size < 0) return nullptr;
  return XmlDoc(htmlReadMemory(bytes.data(), size, "document.html", "UTF-8", kHtmlOptions));
}

std::string elementText(const xmlNode* node, const std::vector<TextRule>& rules, size_t maxBytes) {
  Walker walker{rules, maxBytes, {}};
  if (node) walker.walk(node);
  return walker.out;
}

std::string_view localName(const xmlNode* node) {
  if (!node || !node->name) return {};
  return reinterpret_cast<const char*>(node->name);
}

const xmlNode* findElement(const xmlNode* node, std::string_view name) {
  std::vector<const xmlNode*> stack;
  for (const xmlNode* c = node ? node->children : nullptr; c || !stack.empty();) {
    if (!c) {
      c = stack.back()->next;
      stack.pop_back();
      continue;
    }
    if (c->type == XML_ELEMENT_NODE) {
      if (localName(c) == name) return c;
      if (c->children) {
        stack.push_back(c);
        c = c->children;
        continue;
      }
    }
    c = c->next;
  }
  return nullptr;
}

std::vector<const xmlNode*> childElements(const xmlNode* node, std::string_view name) {
  std::vector<const xmlNode*> found;
  for (const xmlNode* c = node ? node->children : nullptr; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE && localName(c) == name) found.push_back(c);
  return found;
}

std::string attribute(const xmlNode* node, std::string_view name) {
  if (!node) return {};
  for (const xmlAttr* a = node->properties; a; a = a->next) {
    if (!a->name || name != reinterpret_cast<const char*>(a->name)) continue;
    const xmlNode* value = a->children;
    if (value && value->type == XML_TEXT_NODE && value->content)
      return reinterpret_cast<const char*>(value->content);
    return {};
  }
  return {};
}

std::string plainText(const xmlNode* node) {
  static const std::vector<TextRule> none;
  std::string text = elementText(node, none, 1 << 20);
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::string htmlText(const xmlNode* root) {
  static const std::vector<TextRule> rules = {
      {"script", TextRule::kSkip},     {"style", TextRule::kSkip},
      {"head", TextRule::kSkip},       {"p", TextRule::kLineAfter},
      {"div", TextRule::kLineAfter},   {"li", TextRule::kLineAfter},
      {"tr", TextRule::kLineAfter},    {"td", TextRule::kTabAfter},
      {"th", TextRule::kTabAfter},     {"br", TextRule::kLine},
      {"h1", TextRule::kLineAfter},    {"h2", TextRule::kLineAfter},
      {"h3", TextRule::kLineAfter},    {"h4", TextRule::kLineAfter},
      {"h5", TextRule::kLineAfter},    {"h6", TextRule::kLineAfter},
      {"title", TextRule::kLineAfter}, {"blockquote", TextRule::kLineAfter},
      {"pre", TextRule::kLineAfter},
  };
  return elementText(root, rules);
}

}  // namespace extract
