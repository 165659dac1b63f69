/// @file renderer_fixture.h
/// @brief Helpers of the renderer tests: query output files written with the
/// query program's own writer, record lines and descriptors, and a checker
/// that tells whether an answer is well-formed XML.

#ifndef SEARCHRUN_TESTS_RENDERER_RENDERER_FIXTURE_H
#define SEARCHRUN_TESTS_RENDERER_RENDERER_FIXTURE_H

#include <cstdint>
#include <string>
#include <vector>

#include "output/query_output.h"

namespace rendertest {

constexpr const char* D = "\x12\x13\x14";

inline std::string recordLine(const std::string& owner, const std::string& index, int score,
                              int recid, const std::string& host = "127.0.0.1") {
  return host + ":20001" + D + owner + D + index + D + std::to_string(score) + D +
         std::to_string(recid) + "\n";
}

inline std::string descriptor(const std::string& owner, const std::string& desc,
                              const std::string& index, const std::string& host = "127.0.0.1") {
  return host + D + owner + D + desc + D + index + D + "20001" + D;
}

// What a query output file holds, with the values a plain search gives.
struct ResultSpec {
  std::string user = "TESSERA";
  int perPage = 10;
  static constexpr int kAsLines = INT32_MIN;
  int recordCount = kAsLines;  // merged hits
  std::string sortField = "score";
  std::string sortOrder = "desc";
  int matchMode = 2;
  int relTermOption = 1;
  int runTimeMs = 1250;
  std::string mainPage = "NONE";
  std::string queryUrl = "user=TESSERA&query=report";
  std::string keyword = "report";
  std::string term = "report";
  std::string selected = std::string(" ") + D + " " + D + "all";
  std::string relTerms;
  std::vector<std::string> descriptors;
  std::vector<std::string> lines;
};

inline bool writeResult(const std::string& path, const ResultSpec& s) {
  CQueryOutput out;
  if (!out.WriteOutputFile(path)) return false;
  out.SetQueryMatchCount(static_cast<int>(s.lines.size()));
  out.SetRecordCount(s.recordCount == ResultSpec::kAsLines ? static_cast<int>(s.lines.size())
                                                           : s.recordCount);
  out.SetQueryRunTime(s.runTimeMs);
  out.SetSortField(s.sortField.c_str());
  out.SetSortOrder(s.sortOrder.c_str());
  out.SetIniFileName("ts_ini_option.cfg");
  out.SetMainPageUrl(s.mainPage);
  out.SetRelTermOption(s.relTermOption);
  out.SetOutputMode(1);
  out.SetOutputCountPerPage(s.perPage);
  out.SetMatchMode(s.matchMode);
  out.SetSBFNumber("00000");
  out.SetQueryUser(s.user);
  out.SetMultiDbCount(static_cast<int>(s.descriptors.size()));
  out.OutputSetData();
  out.OutputQueryInfo(s.queryUrl, s.keyword, s.term, s.selected, s.relTerms);
  out.OutputMultiDbInfo();
  for (size_t i = 0; i < s.descriptors.size(); ++i)
    out.OutputMultiDbURL(static_cast<int>(i), s.descriptors[i]);
  out.OutputRecordDataInfo();
  for (size_t i = 0; i < s.lines.size(); ++i)
    out.OutputRecordData(static_cast<int>(i), s.lines[i]);
  return out.CloseOutputFile();
}

// A small XML checker, enough for the renderer's answers: an optional
// declaration and DOCTYPE, then one element with balanced tags, attributes in
// double quotes, the five predefined entities and numeric references only,
// no raw "<" or "&" in text or values, and no control character that XML
// cannot carry. False with the reason otherwise.
inline bool wellFormedXml(const std::string& xml, std::string& why) {
  for (unsigned char c : xml) {
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
      why = "control character " + std::to_string(c);
      return false;
    }
  }
  size_t i = 0;
  auto skipSpace = [&] {
    while (i < xml.size() && (xml[i] == ' ' || xml[i] == '\n' || xml[i] == '\t' || xml[i] == '\r'))
      ++i;
  };
  auto entityOk = [&](size_t at) {
    const size_t semi = xml.find(';', at);
    if (semi == std::string::npos || semi - at > 10) return false;
    const std::string name = xml.substr(at + 1, semi - at - 1);
    if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos")
      return true;
    return name.size() > 1 && name[0] == '#' &&
           name.find_first_not_of("0123456789", 1) == std::string::npos;
  };
  auto name = [&] {
    const size_t start = i;
    while (i < xml.size() && (isalnum(static_cast<unsigned char>(xml[i])) || xml[i] == '_' ||
                              xml[i] == '-' || xml[i] == ':'))
      ++i;
    return xml.substr(start, i - start);
  };
  skipSpace();
  if (xml.compare(i, 5, "<?xml") == 0) i = xml.find("?>", i) + 2;
  skipSpace();
  if (xml.compare(i, 9, "<!DOCTYPE") == 0) i = xml.find('>', i) + 1;
  skipSpace();
  std::vector<std::string> open;
  bool rootDone = false;
  while (i < xml.size()) {
    if (xml[i] == '<') {
      if (rootDone) return why = "content after the root element", false;
      ++i;
      const bool closing = i < xml.size() && xml[i] == '/';
      if (closing) ++i;
      const std::string tag = name();
      if (tag.empty()) return why = "tag without a name at " + std::to_string(i), false;
      if (closing) {
        if (open.empty() || open.back() != tag) return why = "unbalanced </" + tag + ">", false;
        open.pop_back();
        skipSpace();
        if (i >= xml.size() || xml[i] != '>') return why = "bad end tag " + tag, false;
        ++i;
        rootDone = open.empty();
        continue;
      }
      for (;;) {
        skipSpace();
        if (i >= xml.size()) return why = "cut-off tag " + tag, false;
        if (xml[i] == '>' || xml.compare(i, 2, "/>") == 0) break;
        if (name().empty() || i >= xml.size() || xml[i] != '=' || xml[i + 1] != '"')
          return why = "bad attribute in <" + tag + ">", false;
        i += 2;
        for (; i < xml.size() && xml[i] != '"'; ++i) {
          if (xml[i] == '<' || (xml[i] == '&' && !entityOk(i)))
            return why = "bad attribute value in <" + tag + ">", false;
        }
        ++i;
      }
      if (xml[i] == '/') {
        i += 2;
        rootDone = open.empty();
      } else {
        ++i;
        open.push_back(tag);
      }
    } else {
      if (xml[i] == '&' && !entityOk(i)) return why = "bad entity at " + std::to_string(i), false;
      if (rootDone && !isspace(static_cast<unsigned char>(xml[i])))
        return why = "text after the root element", false;
      ++i;
    }
  }
  if (!open.empty()) return why = "unclosed <" + open.back() + ">", false;
  if (!rootDone) return why = "no root element", false;
  return true;
}

}  // namespace rendertest

#endif  // SEARCHRUN_TESTS_RENDERER_RENDERER_FIXTURE_H
