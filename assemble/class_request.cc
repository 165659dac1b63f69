/// @file class_request.cc
/// @brief The class search of a request: the class command to the server of
/// this host and the selected indexes of its answer.

#include <algorithm>
#include <new>

#include "assemble/class_search.h"
#include "system/delimiters.h"
#include "system/log.h"
#include "system/server_protocol.h"
#include "system/strings.h"

namespace {

// The answer goes into the log only this far.
constexpr size_t kLoggedAnswerMax = 2000;

std::string loggable(std::string_view text) {
  return blankControlCharacters(std::string(text.substr(0, kLoggedAnswerMax)));
}

bool isListed(const VelaSearchListVector& list, const velaSearchList& entry) {
  return std::any_of(list.begin(), list.end(), [&](const velaSearchList& e) {
    return e.ipAddr == entry.ipAddr && e.port == entry.port && e.owner == entry.owner &&
           e.idxName == entry.idxName;
  });
}

ClassSearchOutcome failed(const char* message) {
  ClassSearchOutcome outcome;
  outcome.message = message;
  return outcome;
}

}  // namespace

ClassSearchOutcome buildClassifiedSearch(const ClassSearchRequest& request, classSearchTag& search,
                                         VelaSearchListVector& list) {
  const bool byId = request.className == nullptr;
  const char* value = byId ? request.classUid : request.className;
  if (value == nullptr) return {};
  ReportLog("class_string=%s\n", blankControlCharacters(value).c_str());
  if (value[0] == '\0' || std::string_view(value) == kNoClassSearch || request.user == nullptr)
    return {};

  // A class or user holding a delimiter would change the command's meaning,
  // and a cut command is no command: no class has such a name.
  if (hasProtocolDelimiter(value) || hasProtocolDelimiter(request.user))
    return failed(kMsgClassNotFound);
  std::string command;
  if (byId) {
    protocolGetIndexListByClassID(command, request.user, value);
  } else {
    protocolGetIndexListByClassName(command, request.user, value);
  }
  if (command.size() >= kProtocolCommandMax) return failed(kMsgClassNotFound);

  std::string answer;
  if (request.interfacePort < 1 || request.interfacePort > 65535) {
    ReportLog("no interface port for the class search\n");
    return failed(kMsgClassExchangeFailed);
  }
  const ClassExchange& exchange = request.exchange ? request.exchange : exchangeClassCommand;
  if (!exchange(request.host, request.interfacePort, command, answer))
    return failed(kMsgClassExchangeFailed);
  ReportLog("Class GotData=%s\n", loggable(answer).c_str());
  if (isClassNotFoundAnswer(answer)) return failed(kMsgClassNotFound);
  // An answer cut short (a server that died or closed mid-answer) would
  // silently search part of the class.
  if (answer.find(kCommandEndView) == std::string::npos) {
    ReportLog("the class answer has no end mark\n");
    return failed(kMsgClassExchangeFailed);
  }

  if (search.isInitialize()) search.reset();
  if (search.initialize(answer) == 0) return {};
  ReportLog("class.initialize index_count=%d\n", search.indexCount());

  ClassSearchOutcome outcome;
  try {
    const std::string host = velaSearchList::bounded(request.host, kIpAddrSize);
    const std::string port =
        velaSearchList::bounded(std::to_string(request.queryServerPort), kPortSize);
    for (const classIndexNode& node : search.indexes()) {
      const classIndexTag& index = node.index();
      velaSearchList entry;
      entry.ipAddr = host;
      entry.owner = index.m_idxOwner;
      entry.idxName = index.m_idxName;
      entry.port = port;
      entry.desc = index.m_idxDesc;
      entry.dbType = index.m_idxType;
      // A class and its sub-classes may share an index: it is searched once.
      if (isListed(list, entry)) continue;
      list.push_back(std::move(entry));
      ++outcome.added;
      if (list.back().dbType != "db") ++outcome.fileNameIndexCount;
    }
  } catch (const std::bad_alloc&) {
    return failed(kMsgClassNoMemory);
  }
  ReportLog("class index_count=%d\n", outcome.added);
  return outcome;
}
