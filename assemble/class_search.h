/// @file class_search.h
/// @brief Searching a class of indexes: the server of this host names the
/// indexes (and the sub-classes) of a class; the usable ones become the
/// selected indexes, follow-up pages search the same ones, and the result's
/// "_class" file lists what the class held.
///
/// The server's answer: index records, each ended by kGroupEndDelim, of nine
/// fields between kFieldDelim (host, owner, description, name, port, type,
/// status, an unused field, unique id); kValueDelim; class records "name
/// kFieldDelim uid" each ended by kGroupEndDelim; kCommandEndDelim, after
/// which nothing counts.

#ifndef SEARCHRUN_ASSEMBLE_CLASS_SEARCH_H
#define SEARCHRUN_ASSEMBLE_CLASS_SEARCH_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "system/vela_search_list.h"

// One index of a class as the server described it.
struct classIndexTag {
  std::string m_ipAddr;
  std::string m_idxOwner;
  std::string m_idxDesc;
  std::string m_idxName;
  std::string m_port;
  std::string m_idxType;
  std::string m_idxStatus;
  std::string m_idxUnique;
};

class classIndexNode {
 public:
  // Reads the record (up to its first kGroupEndDelim). False, with the node
  // unchanged, when a field does not fit what the run keeps of it (owner and
  // description under 64 bytes, type under 16, host under 24, port under 8,
  // unique id under 64), the name is not isSafeIndexName, or a field holds
  // a control character (it would break the lines of the "_class" file).
  bool setCurrectIndex(std::string_view record);

  const classIndexTag& index() const { return m_index; }
  const std::string& getIndexName() const { return m_index.m_idxName; }
  const std::string& getIndexOwner() const { return m_index.m_idxOwner; }
  const std::string& getIndexIpAddr() const { return m_index.m_ipAddr; }
  const std::string& getIndexUnique() const { return m_index.m_idxUnique; }

 private:
  classIndexTag m_index;
};

class classClassNode {
 public:
  // Reads "name kFieldDelim uid" (the uid ends at the next kFieldDelim or
  // the end). False, with the node unchanged, without kFieldDelim or when
  // either text is empty, longer than 255 bytes or holds a control
  // character.
  bool setClassInfo(std::string_view record);

  const std::string& getClassName() const { return m_className; }
  const std::string& getClassUnique() const { return m_classUnique; }

 private:
  std::string m_className;
  std::string m_classUnique;
};

class classSearchTag {
 public:
  // Builds both lists from a server answer (replacing what they held) and
  // returns the number of usable indexes. Index records keep the answer's
  // order; records that checkIndexStatus refuses, or that setCurrectIndex
  // cannot take, are skipped. Each class after the first is placed second,
  // so classes A, B, C list as A, C, B. An answer without kValueDelim has no
  // classes.
  int initialize(std::string_view answer);

  bool isInitialize() const { return m_InitializeFlag; }
  // Empties a list; the tag stays initialised.
  void freeIndexList();
  void freeClassList();
  // Forgets everything: the tag is as constructed.
  void reset();

  const std::vector<classIndexNode>& indexes() const { return m_indexes; }
  const std::vector<classClassNode>& classes() const { return m_classes; }
  int indexCount() const { return m_IndexCount; }

  // True when the status field (the seventh) of an index record is 0, 1, 3
  // or 1009: the index can be searched.
  static bool checkIndexStatus(std::string_view record);

  // While the class search supplied the indexes (initialised with at least
  // one usable index), rewrites a request URL so that it names them:
  // every "index_id=" parameter is dropped and one "&index_id=<uid of
  // host's index>" per index appended. Otherwise the URL stays unchanged.
  void updateClassURLString(std::string& url, const char* host) const;

  // The "_class" file: "==CLASS==\n", "name\tuid\n" per class, "==INDEX==\n",
  // "host\towner\tname\tuid\n" per index.
  std::string classInformationText() const;
  // While initialised, writes classInformationText into `path`: a new file
  // (created exclusively: nothing planted under the name is written
  // through), or the empty one the run made for its result ahead of it (a
  // regular file of this account with one name). False when not initialised
  // or the file cannot be written.
  bool outputClassInformation(const std::string& path) const;

 private:
  std::vector<classIndexNode> m_indexes;
  std::vector<classClassNode> m_classes;
  int m_IndexCount = 0;
  bool m_InitializeFlag = false;
};

// The class search of this run.
extern classSearchTag class_search;

// The assembly's process-wide state as the program starts (no class
// search): for a process that makes runs one after another.
void resetAssembleRunState();

// Sends `command` to host:port and reads the answer into `answer`; true when
// the exchange succeeded.
using ClassExchange = std::function<bool(const std::string& host, int port,
                                         const std::string& command, std::string& answer)>;

// The exchange of a class command with the server over the network
// (net_exchange.h), within the installation's limits and a cap that fits
// class answers; true when the exchange succeeded.
bool exchangeClassCommand(const std::string& host, int port, const std::string& command,
                          std::string& answer);

// True for the server's answer to a class it does not know.
bool isClassNotFoundAnswer(std::string_view answer);

// What the class search needs of the request and the installation.
struct ClassSearchRequest {
  const char* className = nullptr;  // "class_name"; null when absent
  const char* classUid = nullptr;   // "class_uid"; used only without a name
  const char* user = nullptr;       // "user"
  std::string host;                 // this host's address
  int queryServerPort = 0;          // port written into every entry
  int interfacePort = -1;           // the server's port; below 1 when unknown
  // The exchange with the server; unset means the network (net_exchange.h).
  ClassExchange exchange;
};

// Value of "class_name" that asks for no class.
constexpr const char* kNoClassSearch = "NONE_CLASS_SEARCH";

// Message codes that end a class search.
inline constexpr const char* kMsgClassExchangeFailed = "0005";
inline constexpr const char* kMsgClassNotFound = "0047";
inline constexpr const char* kMsgClassNoMemory = "0008";

struct ClassSearchOutcome {
  int added = 0;               // entries appended
  int fileNameIndexCount = 0;  // of those, entries whose type is not "db"
  // Null, or the message code that ends the run (exit status 1).
  const char* message = nullptr;
};

// The class search of a request into `search` (normally class_search):
// nothing happens (added 0) without a class, with kNoClassSearch, or without
// a user. Otherwise the server is asked; an exchange that fails, or an
// answer without its end mark, gives kMsgClassExchangeFailed, an answer
// beginning "Can't find class" (or a
// class or user that no command can carry) kMsgClassNotFound. Each usable
// index not yet in `list` is appended as an index of this host at the
// query server port.
ClassSearchOutcome buildClassifiedSearch(const ClassSearchRequest& request, classSearchTag& search,
                                         VelaSearchListVector& list);

#endif  // SEARCHRUN_ASSEMBLE_CLASS_SEARCH_H
