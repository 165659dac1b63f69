/// @file server_protocol.cc
/// @brief The command builders of the server protocol and its token reader.

#include "system/server_protocol.h"

#include <initializer_list>

#include "system/delimiters.h"

namespace {

constexpr std::string_view kOp = kCommandWordView;
constexpr std::string_view kPar(kParameterDelim, kDelimSize);
constexpr std::string_view kIxp = kFieldView;
constexpr std::string_view kIxe = kGroupEndView;
constexpr std::string_view kEnd = kCommandEndView;

std::string_view textOf(const char* p) {
  return p == nullptr ? std::string_view() : std::string_view(p);
}

// out = the pieces one after another, then the end mark, cut to the
// largest command.
void compose(std::string& out, std::initializer_list<std::string_view> pieces) {
  out.clear();
  for (std::string_view piece : pieces)
    out.append(piece);
  out.append(kEnd);
  if (out.size() > kProtocolCommandMax) out.resize(kProtocolCommandMax);
}

}  // namespace

void protocolCheckUserPassword(std::string& out, const char* p1, const char* p2, bool flag) {
  compose(out,
          {"KScheck_permission", kOp, textOf(p1), kPar, textOf(p2), kPar, flag ? "true" : "false"});
}

void protocolCheckUserValidPath(std::string& out, const char* p1, const char* path) {
  std::string dir(textOf(path));
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  compose(out, {"is_user_valid_path", kOp, textOf(p1), kPar, textOf(p1), kPar, dir});
}

void protocolGetUserIndexList(std::string& out, const char* p1) {
  compose(out, {"GET_CLASS_WRITE", kOp, textOf(p1)});
}

void protocolGetAllIndexPath(std::string& out) {
  compose(out, {"get_all_index_path", kOp});
}

void protocolExecuteCommand(std::string& out, const char* commandLine) {
  compose(out, {"EXECUTE_COMMAND", kOp, textOf(commandLine)});
}

void protocolStartIndex(std::string& out, const char* program, const char* p2, const char* p3,
                        bool incremental) {
  std::string inner(textOf(program));
  inner.append(" ").append(incremental ? "-inc" : "").append(" \"");
  inner.append(textOf(p2)).append("\" \"").append(textOf(p3)).append("\" ");
  compose(out, {"start_index", kOp, textOf(p2), kIxp, textOf(p3), kIxp, inner, kIxe});
}

void protocolGetExchangeServerList(std::string& out) {
  compose(out, {"get_exchange_server_hosts", kOp});
}

void protocolGetIndexStatusCode(std::string& out, const char* p1, const char* p2) {
  compose(out, {"GET_INDEX_STATUS", kOp, textOf(p1), kIxp, textOf(p2)});
}

void protocolGetAllIndexStatus(std::string& out) {
  compose(out, {"get_all_index_status", kOp});
}

void protocolGetReadableIndexList(std::string& out, const char* p1) {
  compose(out, {"GET_DATABASE_READ", kOp, textOf(p1)});
}

void protocolGetDefaultIndexList(std::string& out, const char* p1) {
  compose(out, {"GET_DEFAULT_INDEX", kOp, textOf(p1)});
}

void protocolGetDefaultSearchByFeildDBInfo(std::string& out, const char* p1) {
  compose(out, {"GET_DEFAULT_INDEX_DB", kOp, textOf(p1)});
}

void protocolGetDbColumn(std::string& out, const char* p1, const char* p2) {
  compose(out, {"get_db_column", kOp, textOf(p1), kIxp, textOf(p2)});
}

void protocolGetIndexListByClassName(std::string& out, const char* user, const char* className) {
  compose(out, {"GET_CLASS_READ_BY_NAME", kOp, textOf(user), kOp, textOf(className)});
}

void protocolGetIndexListByClassID(std::string& out, const char* user, const char* classId) {
  compose(out, {"GET_CLASS_READ", kOp, textOf(user), kOp, textOf(classId)});
}

void protocolGetQueryServerState(std::string& out) {
  compose(out, {"get_query_server_state", kOp});
}

bool getTokenFromString(std::string_view text, std::string_view delim, int n, std::string& out,
                        size_t outSize) {
  out.clear();
  if (n < 1 || delim.empty()) return false;
  size_t start = 0;
  for (int k = 1; k < n; ++k) {
    const size_t at = text.find(delim, start);
    // A delimiter that ends the text opens no further token.
    if (at == std::string_view::npos || at + delim.size() >= text.size()) return false;
    start = at + delim.size();
  }
  const size_t end = text.find(delim, start);
  std::string_view token =
      text.substr(start, end == std::string_view::npos ? text.npos : end - start);
  if (outSize == 0) return true;
  out.assign(token.substr(0, outSize - 1));
  return true;
}

bool splitProtocolCommand(std::string_view request, std::string& word, std::string& body) {
  word.clear();
  body.clear();
  const size_t op = request.find(kOp);
  if (op == std::string_view::npos) return false;
  const size_t end = request.find(kEnd, op + kOp.size());
  if (end == std::string_view::npos) return false;
  word.assign(request.substr(0, op));
  body.assign(request.substr(op + kOp.size(), end - op - kOp.size()));
  return true;
}
