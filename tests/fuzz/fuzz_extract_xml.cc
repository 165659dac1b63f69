/// @file fuzz_extract_xml.cc
/// @brief Arbitrary bytes as the XML of a document part and as an HTML
/// chapter, through the hardened parser set-up and the text walker: the
/// walk never crashes and never gives more text than its cap.

#include "companions/extract/xml_text.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  static const std::vector<extract::TextRule> rules = {
      {"p", extract::TextRule::kLineAfter}, {"tab", extract::TextRule::kTab},
      {"tc", extract::TextRule::kTabAfter}, {"page", extract::TextRule::kPageAfter},
      {"s", extract::TextRule::kSpace},     {"skip", extract::TextRule::kSkip},
  };
  const extract::XmlDoc xml = extract::parseXml(bytes);
  if (xml) {
    const xmlNode* root = xmlDocGetRootElement(xml.get());
    fuzzscratch::check(extract::elementText(root, rules, 64).size() <= 64);
    extract::elementText(root, rules);
    extract::plainText(extract::findElement(root, "t"));
    extract::attribute(root, "id");
  }
  const extract::XmlDoc html = extract::parseHtml(bytes);
  if (html) extract::htmlText(xmlDocGetRootElement(html.get()));
  return 0;
}
