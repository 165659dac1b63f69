/// @file older_front.cc
/// @brief The threaded editions' CGI input: the request text read and
/// unwrapped, older class requests rewritten, the index list and the query
/// options taken from it (settings in older_settings.cc, pages in
/// older_pages.cc).

#include "front/older_front.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <sstream>
#include <vector>

#include "assemble/class_search.h"
#include "cgi/cgi_codec.h"
#include "cgi/cgi_input.h"
#include "cgi/cgi_string_parser.h"
#include "front/multi_field_request.h"
#include "front/older_front_parts.h"
#include "front/query_normalize.h"
#include "front/query_option.h"
#include "front/request_state.h"
#include "system/address.h"
#include "system/agent_hosts.h"
#include "system/delimiters.h"
#include "system/lines.h"
#include "system/net_exchange.h"
#include "system/numbers.h"
#include "system/secure_file.h"
#include "system/server_protocol.h"
#include "system/strings.h"

namespace {

using olderfront::cut;
using olderfront::kLanguageJP;

void appendLogLine(const char* path, const std::string& text) {
  FILE* log = fopenAppend(path, 0640);
  if (!log) return;
  std::fprintf(log, "[%s]\n", text.c_str());
  std::fclose(log);
}

// What the page shows of the server's answer to an unknown class.
constexpr size_t kShownAnswerMax = 1024;

// The variables of a request text, as written (not unescaped).
std::vector<std::string> splitVariables(const std::string& text) {
  std::vector<std::string> variables;
  std::istringstream in(text);
  for (std::string variable; std::getline(in, variable, '&');)
    if (!variable.empty()) variables.push_back(variable);
  return variables;
}

// The value, as written, of the first variable `name`; none when absent.
std::optional<std::string> rawVariable(const std::vector<std::string>& variables,
                                       const char* name) {
  const size_t length = std::strlen(name);
  for (const std::string& variable : variables) {
    if (variable.compare(0, length, name) == 0 && variable.size() > length &&
        variable[length] == '=')
      return variable.substr(length + 1);
  }
  return std::nullopt;
}

bool isDottedNumber(const std::string& host) {
  return !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

OlderInput readOlderRequestText(std::string& text, const char* logPath) {
  const char* method = std::getenv("REQUEST_METHOD");
  OlderInput problem = OlderInput::kOk;
  if (method == nullptr) {
    problem = OlderInput::kNoRequestMethod;
  } else if (std::strcmp(method, "POST") == 0) {
    const size_t length = cgiBodyLength();
    if (length == 0) {
      problem = OlderInput::kNoContentLength;
    } else {
      try {
        text = readCgiBody(STDIN_FILENO, length);
        text = cutAtZero(text.data(), text.size());
      } catch (const std::bad_alloc&) {
        return OlderInput::kNoMemory;
      }
    }
  } else {
    const char* query = std::getenv("QUERY_STRING");
    if (query == nullptr)
      problem = OlderInput::kNoQueryString;
    else
      text = query;
  }
  switch (problem) {
    case OlderInput::kNoRequestMethod:
      appendLogLine(logPath, "NO REQUEST_METHOD");
      break;
    case OlderInput::kNoQueryString:
      appendLogLine(logPath, "NO QUERY_STRING");
      break;
    case OlderInput::kNoContentLength:
      appendLogLine(logPath, "CONTENT_LENGTH=0");
      break;
    default:
      appendLogLine(logPath, blankControlCharacters(text));
      break;
  }
  return problem;
}

std::string decodeCGIString(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(getCharFromHexChar(text[i + 1], text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string unwrapOlderRequest(std::string text) {
  for (const char* prefix : {"queryString", "refineString", "linkString"}) {
    if (text.compare(0, std::strlen(prefix), prefix) != 0) continue;
    const size_t eq = text.find('=');
    return eq == std::string::npos ? std::string() : decodeCGIString(text.substr(eq + 1));
  }
  return text;
}

std::string appendWmlIndexDatabase(std::string text) {
  CGIStringParser parsed;
  parsed.initialize(text.c_str());
  if (const char* index = parsed.findCgiVariableByName("wml_index")) {
    const std::string name = encodeCGIString(index);
    const std::string delim = encodeCGIString(kFieldDelim);
    text += "&database=";
    for (const std::string& field : {std::string("127.0.0.1"), std::string("root"), name,
                                     std::string("20001"), name, std::string("proxy")})
      text += field + delim;
  }
  return text;
}

std::string olderClassCommand(bool byName, const std::string& owner, const std::string& value) {
  if (hasProtocolDelimiter(owner) || hasProtocolDelimiter(value)) return std::string();
  return std::string(byName ? "GET_CLASS_READ_BY_NAME" : "GET_CLASS_READ") + kCommandWordDelim +
         owner + kCommandWordDelim + value + kCommandEndDelim;
}

OlderClassOutcome rewriteOlderClassRequest(std::string& text, const iniOptionTag& ini,
                                           const ClassExchange& exchange) {
  const std::vector<std::string> variables = splitVariables(text);
  const std::optional<std::string> name = rawVariable(variables, "class_name");
  const bool byName = name && !name->empty();
  const std::optional<std::string> value = byName ? name : rawVariable(variables, "class_uid");
  const std::optional<std::string> owner = rawVariable(variables, "owner");
  OlderClassOutcome outcome;
  if (!value || value->empty() || *value == kNoClassSearch || !owner) return outcome;

  outcome.kind = OlderClassOutcome::kFailed;
  const std::string command = olderClassCommand(byName, *owner, decodeCGIString(*value));
  std::string answer;
  if (command.empty() || ini.privilege_server_port < 1 || ini.privilege_server_port > 65535 ||
      !exchange(ini.privilege_server_ip, ini.privilege_server_port, command, answer))
    return outcome;
  if (isClassNotFoundAnswer(answer)) {
    outcome.kind = OlderClassOutcome::kNotFound;
    const std::string shown =
        answer.substr(0, std::min(answer.find(kCommandEndDelim), kShownAnswerMax));
    outcome.message = blankControlCharacters(shown);
    return outcome;
  }
  // An answer cut short would silently search part of the class.
  if (answer.find(kCommandEndDelim) == std::string::npos) return outcome;

  classSearchTag classes;
  classes.initialize(answer);
  std::string rewritten;
  for (const std::string& variable : variables) {
    if (variable.compare(0, 9, "database=") == 0) continue;
    if (!rewritten.empty()) rewritten += '&';
    rewritten += variable;
  }
  const std::string delim = encodeCGIString(kFieldDelim);
  for (const classIndexNode& node : classes.indexes()) {
    const classIndexTag& index = node.index();
    rewritten += "&database=";
    const std::string* fields[] = {&index.m_ipAddr, &index.m_idxOwner, &index.m_idxName,
                                   &index.m_port,   &index.m_idxDesc,  &index.m_idxType};
    for (const std::string* field : fields)
      rewritten += encodeCGIString(*field) + delim;
  }
  text = std::move(rewritten);
  outcome.kind = OlderClassOutcome::kRewritten;
  return outcome;
}

namespace {

// An entry names a directory on its host and, when the host is another one,
// a connection: only plain names, and only the agents the administrator
// listed, are ever searched.
bool isSearchableEntry(const velaSearchList& entry) {
  if (!isSafeOwnerName(entry.owner) || !isSafeIndexName(entry.idxName.c_str())) return false;
  return isLocalIPAddress(entry.ipAddr.c_str()) || isAllowedAgent(entry.ipAddr, entry.port);
}

}  // namespace

int buildSearchMultiIndex(const CGIStringParser& cgi, const iniOptionTag& ini,
                          VelaSearchListVector& list, SearchMultiIndexVector& clauses,
                          std::string& joined, int h2fFlag, int language) {
  // The older settings name this host's address and port; the index list
  // file then counts the clauses' index as local, as it does a "database"
  // entry of this host.
  return buildMultiFieldSearch(cgi, ini.query_server_ip, ini.query_server_port, list, clauses,
                               joined, h2fFlag, language);
}

int buildDatabaseList(const CGIStringParser& cgi, VelaSearchListVector& list, bool resolveNames) {
  int added = 0;
  for (int k = 0; k < cgi.getCgiVariableNum(); ++k) {
    const char* name = cgi.findNameByIndex(k);
    const char* value = cgi.findValueByIndex(k);
    if (name == nullptr || value == nullptr || std::strcmp(name, "database") != 0) continue;
    std::vector<std::string> fields;
    std::string rest = value;
    for (size_t at; (at = rest.find(kFieldDelim)) != std::string::npos;) {
      fields.push_back(rest.substr(0, at));
      rest.erase(0, at + std::strlen(kFieldDelim));
    }
    if (!rest.empty()) fields.push_back(rest);
    // An entry names its host, owner and index at least; a shorter one
    // cannot be searched.
    if (fields.size() < 3 || fields[0].empty() || fields[2].empty()) continue;
    fields.resize(6);
    velaSearchList entry;
    entry.ipAddr = fields[0].substr(0, fields[0].find(':'));
    std::string address;
    if (resolveNames && !isDottedNumber(entry.ipAddr) && getIpByHost(entry.ipAddr.c_str(), address))
      entry.ipAddr = address;
    entry.owner = fields[1];
    entry.idxName = fields[2];
    entry.port = fields[3];
    entry.desc = fields[4];
    entry.dbType = fields[5];
    entry.sbfString = " ";
    entry.m_match = -1;
    entry.m_digit_field = -1;
    if (!isSearchableEntry(entry)) continue;
    list.push_back(std::move(entry));
    ++added;
  }
  return added;
}

const char* applyOlderQueryOptions(const CGIStringParser& cgi, int language,
                                   queryOptionTag& options) {
  auto value = [&cgi](const char* name) { return cgi.findCgiVariableByName(name); };
  const char* match = value("match");
  options.fgMatchMode =
      match && (std::strcmp(match, "on") == 0 || std::strcmp(match, "fuzzy") == 0) ? 1 : 0;
  if (match && language == kLanguageJP) options.fgMatchMode = isContainKH(options.orgQuery) ? 0 : 1;

  options.fgSearchDate = value("all_file") ? 0 : 1;
  options.dateWindowProblem = kDateWindowOk;
  if (options.fgSearchDate) {
    auto date = [&value](const char* prefix) {
      int parts[3] = {-1, -1, -1};
      const char* names[3] = {"_year", "_month", "_day"};
      for (int k = 0; k < 3; ++k) {
        int64_t n = 0;
        const char* v = value((std::string(prefix) + names[k]).c_str());
        if (v && parseDecimal(v, 0, 9999, n)) parts[k] = static_cast<int>(n);
      }
      return queryOptionTag::convTimeStr2Num(parts[0], parts[1], parts[2]);
    };
    options.beginTime = date("begin");
    if (options.beginTime == -1) return "Convert search start time fails";
    const int32_t end = date("end");
    if (end == -1 || end > INT32_MAX - 86399) return "Convert search end time fails";
    options.endTime = end + 86399;
  }

  const char* output = value("output");
  options.outputMode = output && std::strcmp(output, "Compact Output") == 0    ? 0
                       : output && std::strcmp(output, "Standard Output") == 0 ? 1
                                                                               : -2;
  const char* matchType = value("match_type");
  options.matchType = 0;
  if (matchType && std::strcmp(matchType, "MATCH_LINE") == 0) options.matchType = 2;
  if (matchType && std::strcmp(matchType, "MATCH_WORD") == 0) options.matchType = 1;
  if (matchType && std::strcmp(matchType, "MATCH_CSV") == 0) options.matchType = 10;
  options.similar_keyword_option = 0;
  options.api_version = 0;
  return nullptr;
}
