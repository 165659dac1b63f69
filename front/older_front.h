/// @file older_front.h
/// @brief The request front of the threaded editions: its CGI input reader,
/// its installation settings ("ts_ini_option.cfg" and companion files), its
/// message texts ("ts_msg_table_default.cfg") and its plain message pages.

#ifndef SEARCHRUN_FRONT_OLDER_FRONT_H
#define SEARCHRUN_FRONT_OLDER_FRONT_H

#include <cstdio>
#include <string>

#include "assemble/class_search.h"
#include "assemble/multi_field_clause.h"
#include "system/vela_search_list.h"

class CGIStringParser;
struct queryOptionTag;
struct RunEnd;

// The installation language from "../Db/DB_ENCODE" (its first word): "Big5"
// 0, "SJIS" 1, "GB2312" 2, any other word 0; -1 when the file is missing.
int verifyLanguage(const char* path = "../Db/DB_ENCODE");

// The message texts, VALUE_0001 to VALUE_0035 and VALUE_1001 to VALUE_1077
// (the codes from 1042 on name the limits of later versions).
class msgTableTag {
 public:
  static constexpr int kCount = 35 + 77;
  // Reads "ts_msg_table_<name>.cfg" in the working directory; false when it
  // cannot be opened.
  bool initialize(const char* name);
  // The lines of a table file: a line that begins with a key sets its text
  // (the rest of the line, leading blanks and tabs removed).
  void readText(const std::string& text);
  // The text of a four-digit code; empty for a code outside the table or
  // not set.
  const std::string& value(const char* code) const;

 private:
  std::string m_values[kCount];
};

// The settings of the installation, with their defaults.
struct iniOptionTag {
  std::string ts2000_root;
  std::string privilege_server_ip;
  int privilege_server_port = 0;
  std::string query_server_ip;
  int query_server_port = 0;
  std::string domain_name;
  int get_sort_content_time = 10000;
  int get_rel_term_time = 10000;
  int max_selected_search_index = 10;
  int max_relterm_count = 10;
  std::string tmpParentPath;

  // Reads "ts_ini_option.cfg" and the companion files from `dir` (the
  // working directory; the domain file is "../system/group/DomainName.txt"
  // relative to it). Null on success, else the message code: "0001" a file
  // is missing, "0003" a required setting is empty or 0.
  const char* initialize(const std::string& dir);
  // The key/value lines of "ts_ini_option.cfg"; unknown keys are ignored.
  void readOptionText(const std::string& text);
};

// Why the request text could not be read.
enum class OlderInput { kOk, kNoRequestMethod, kNoQueryString, kNoContentLength, kNoMemory };

// The request text from the CGI environment (REQUEST_METHOD, QUERY_STRING,
// CONTENT_LENGTH and standard input). Every text read, and every reason
// there is none, is appended as a "[...]" line to `logPath`.
OlderInput readOlderRequestText(std::string& text, const char* logPath = "cgi_variable.log");

// The rewrites of the request text before it is parsed, in this order:
// unwrapOlderRequest, the class search (rewriteOlderClassRequest),
// appendWmlIndexDatabase.
// A text beginning with "queryString", "refineString" or "linkString" is
// replaced by what follows its first "=", decoded once more.
std::string unwrapOlderRequest(std::string text);
// A "wml_index" variable appends the "database" variable of that index on
// this host.
std::string appendWmlIndexDatabase(std::string text);

// The class command to the privilege server: by name ("class_name") or by
// unique id ("class_uid"), for the owner. Empty when the owner or the class
// holds a delimiter of the protocol (no class has such a name).
std::string olderClassCommand(bool byName, const std::string& owner, const std::string& value);

struct OlderClassOutcome {
  enum Kind {
    kNone,       // no class search: the text is unchanged
    kRewritten,  // the text names the class's indexes
    kFailed,     // the exchange failed or its answer was cut short
    kNotFound,   // the server does not know the class: `message` is its answer
  };
  Kind kind = kNone;
  std::string message;
};

// The class search of a request text: a non-empty "class_name" (else
// "class_uid") other than "NONE_CLASS_SEARCH", with an "owner", asks the
// privilege server of the settings for the class; then every "database"
// variable of the text is dropped and one is appended per usable index of
// the class (its host, owner, name, port, description and type), so that
// the follow-up pages search the same indexes.
OlderClassOutcome rewriteOlderClassRequest(std::string& text, const iniOptionTag& ini,
                                           const ClassExchange& exchange = exchangeClassCommand);

// Every "%" and the two characters after it become the byte they name; a
// "%" without two characters after it is kept.
std::string decodeCGIString(const std::string& text);

// The "database" variables of the request, one index each (host, owner,
// index name, port, description, type, between field delimiters); a host
// is cut at its ":", and a name is resolved to its address (unless
// `resolveNames` is false). An entry whose owner or index name is not a
// plain name, or whose host is another one that is not an agent host of
// the installation (agent_hosts.h), is left out. Returns the number of
// entries appended.
int buildDatabaseList(const CGIStringParser& cgi, VelaSearchListVector& list,
                      bool resolveNames = true);

// The multi-field form of the request (multi_field_request.h) over the
// index "index_id" names, at the host address and query server port of the
// settings, as the "database" entries of this host are. Returns what
// buildMultiFieldSearch returns; kMultiFieldRefused ends the run with its
// own page.
int buildSearchMultiIndex(const CGIStringParser& cgi, const iniOptionTag& ini,
                          VelaSearchListVector& list, SearchMultiIndexVector& clauses,
                          std::string& joined, int h2fFlag, int language);

// The query options as the older front reads them, over those read by
// queryOptionTag::initialize: "match", the date window (on unless
// "all_file" is given, its six parts then required), "output", "match_type";
// no similar keywords and no API. Null on success, else the plain text the
// run ends with (exit status 255).
const char* applyOlderQueryOptions(const CGIStringParser& cgi, int language,
                                   queryOptionTag& options);

// Message pages: HTML (the header and footer templates of ../template for
// CH and GB, a fixed header for JP) or XML, on `out`, flushed.
void monitorReport(FILE* out, int language, const std::string& message);
void monitorXMLReport(FILE* out, int language, const std::string& message);

// The answer of a run end in the older front's form: the message text of
// its code (the code itself when the table has none), as an HTML or XML
// page; returns the exit status.
int olderAnswerRunEnd(const RunEnd& end);

// Serves the one request of a threaded edition's process and returns the
// exit status (the older front's flow; see older_run.cc).
int searchrunOlderMain(int argc, char** argv);

// The threaded edition's process-wide settings and messages.
extern msgTableTag msg_table;
extern iniOptionTag ini_option;
// Both as the program starts, read again by the next run.
void resetOlderSettings();

#endif  // SEARCHRUN_FRONT_OLDER_FRONT_H
