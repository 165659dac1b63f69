/// @file fuzz_class_answer.cc
/// @brief A class server's answer of arbitrary bytes, read as the class
/// search reads it: every index kept fits the entry it becomes, every line
/// of the "_class" file stays one line, and the follow-up URL names exactly
/// the indexes kept.

#include <algorithm>
#include <string>

#include "assemble/class_search.h"
#include "system/address.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

namespace {

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  classSearchTag tag;
  const int count = tag.initialize(answer);
  check(count >= 0 && static_cast<size_t>(count) == tag.indexes().size());
  for (const classIndexNode& node : tag.indexes()) {
    const classIndexTag& t = node.index();
    check(isSafeIndexName(t.m_idxName.c_str()) && t.m_idxName.find('\0') == std::string::npos);
    check(t.m_idxOwner.size() < kOwnerSize && t.m_idxDesc.size() < kDescSize &&
          t.m_idxType.size() < kDbTypeSize && t.m_ipAddr.size() < kIpAddrSize);
  }
  const std::string text = tag.classInformationText();
  check(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) ==
        2 + tag.classes().size() + tag.indexes().size());

  std::string url = "a=1&index_id=X&b=2";
  tag.updateClassURLString(url, "10.0.0.5");
  check(countOf(url, "index_id=") == (count > 0 ? tag.indexes().size() : 1));

  // The same answer through the whole class search.
  ClassSearchRequest request;
  request.className = "c";
  request.user = "u";
  request.host = "10.0.0.5";
  request.queryServerPort = 20001;
  request.interfacePort = 20002;
  request.exchange = [&answer](const std::string&, int, const std::string&, std::string& out) {
    out = answer;
    return true;
  };
  VelaSearchListVector list;
  const ClassSearchOutcome outcome = buildClassifiedSearch(request, tag, list);
  check(outcome.added == static_cast<int>(list.size()));
  check(outcome.message != nullptr || list.size() <= tag.indexes().size());
  for (const velaSearchList& e : list)
    check(e.ipAddr == "10.0.0.5" && e.port == "20001" && e.owner.size() < kOwnerSize);
  return 0;
}
