/// @file class_server_main.cc
/// @brief Entry of class_server: answers the class commands of the searches
/// of this host from the installation's class file.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "companions/class_server/class_book.h"
#include "companions/class_server/class_file.h"
#include "companions/serve/daemon_options.h"
#include "companions/serve/listeners.h"
#include "companions/serve/socket_server.h"
#include "system/delimiters.h"
#include "system/index_id.h"
#include "system/layout.h"
#include "system/numbers.h"

namespace {

constexpr const char* kProgram = "class_server";
constexpr const char* kClassFile = "../setting/index_class.cfg";

constexpr const char* kUsage =
    "Usage: class_server --root ROOT [OPTION]...\n"
    "Answers the class searches of the installation at ROOT: which indexes (and\n"
    "sub-classes) a class holds, from ROOT/setting/index_class.cfg, which is read\n"
    "again whenever it changes. Runs in the foreground and logs to standard error;\n"
    "SIGTERM or SIGINT ends it. Run it as the account the web server runs searches as.\n"
    "\n"
    "Options:\n"
    "  --address ADDR       address to listen on (default: ROOT/host_address)\n"
    "  --port PORT          port to listen on (default: ROOT/setting/db_interface.num)\n"
    "  --allow ADDR         a further client address served (this host's address and\n"
    "                       127.0.0.1 always are); may be repeated\n"
    "  --workers N          requests answered at once (1 to 16, default 2)\n"
    "  --client-timeout MS  time a client has to send its request (10 to 60000,\n"
    "                       default 2000)\n";

// A class command is at most this long (the searches cut theirs shorter).
constexpr size_t kMaxRequestBytes = 4096;

struct Options {
  std::string root;
  std::string address;
  int64_t port = 0;
  std::vector<std::string> allowed;
  int64_t workers = 2;
  int64_t clientTimeoutMs = 2000;
};

int usage(const std::string& problem) {
  std::fprintf(stderr, "class_server: %s\n%s", problem.c_str(), kUsage);
  return 2;
}

void log(const std::string& text) {
  serve::logLine(kProgram, text);
}

int fail(const std::string& problem) {
  log(problem);
  return 1;
}

// Returns 0 to go on, otherwise the exit status (-1: exit 0).
int parseOptions(int argc, char** argv, Options& o) {
  return serve::readDaemonOptions(
      argc, argv, kProgram, kUsage,
      {serve::textOption("--root", o.root), serve::textOption("--address", o.address),
       serve::listOption("--allow", o.allowed), serve::numberOption("--port", o.port, 1, 65535),
       serve::numberOption("--workers", o.workers, 1, 16),
       serve::numberOption("--client-timeout", o.clientTimeoutMs, 10, 60000)},
      "--root");
}

// A request is whole at the end mark of its command; bytes after it make
// it no command.
serve::Framing frame(std::string_view bytes, size_t fresh) {
  const std::string_view end(kCommandEndDelim, kDelimSize);
  const size_t from = fresh >= kDelimSize ? fresh - (kDelimSize - 1) : 0;
  const size_t at = bytes.find(end, from);
  if (at == std::string_view::npos) return serve::Framing::kNeedMore;
  return at + kDelimSize == bytes.size() ? serve::Framing::kDone : serve::Framing::kBad;
}

bool lookupIndex(const std::string& id, classserver::IndexInfo& info) {
  IndexIdFileMgr ids;
  if (!ids.readIndexIdInfo(id.c_str())) return false;
  info.owner = ids.getIndexOwner();
  info.desc = ids.getIndexDesc();
  info.type = ids.getIndexType();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int status = parseOptions(argc, argv, o)) return status < 0 ? 0 : status;
  // The installation's own lookups read its files relative to the CGI
  // directory, as its searches do.
  const std::string cgiDir = o.root + "/search-cgi";
  if (chdir(cgiDir.c_str()) != 0) return fail("no installation at " + o.root);
  if (o.address.empty()) o.address = systemGetIPAddress();
  if (o.port == 0) o.port = systemGetInterfacePort();
  if (o.port < 1)
    return fail("no port: give --port or put one into " + o.root + "/setting/db_interface.num");
  // Read once here, so that the workers only ever read the cache.
  if (systemGetSystemHome() == nullptr)
    log("SYSTEM_DIRECTORY is not configured: no index is known");

  std::vector<uint32_t> clients;
  for (const std::string& text : {o.address, std::string("127.0.0.1")}) {
    uint32_t ip = 0;
    if (serve::parseIPv4(text, ip)) clients.push_back(ip);
  }
  for (const std::string& text : o.allowed) {
    uint32_t ip = 0;
    if (!serve::parseIPv4(text, ip)) return usage("--allow needs a dotted address: " + text);
    clients.push_back(ip);
  }

  classserver::ClassFile classFile(kClassFile, o.address, log);
  classFile.current();
  classserver::AnswerContext context;
  context.host = o.address;
  context.queryPort = systemGetQueryServerPort();
  context.lookup = lookupIndex;
  // The index id lookups share the process's caches: one answer at a time.
  std::mutex lookups;

  std::string error;
  const int listener = serve::listenTcp(o.address, static_cast<uint16_t>(o.port), error);
  if (listener < 0) return fail(error);

  serve::ServerConfig config;
  config.program = kProgram;
  config.workers = static_cast<size_t>(o.workers);
  config.requestTimeoutMs = static_cast<int>(o.clientTimeoutMs);
  config.maxRequestBytes = kMaxRequestBytes;
  config.framer = frame;
  config.handler = [&](const std::string& request, const std::function<bool()>&) {
    const auto book = classFile.current();
    std::lock_guard<std::mutex> lock(lookups);
    return classserver::answerRequest(*book, request, context);
  };
  config.peerCheck = serve::addressAllowList(clients);
  int second = 0;
  // An edit is read (and its problems logged) soon, not only at the next
  // search.
  config.housekeeping = [&] {
    if (++second % 5 == 0) classFile.current();
    return true;
  };
  log("serving " + o.root + " on " + o.address + ":" + std::to_string(o.port) + " (pid " +
      std::to_string(getpid()) + ")");
  const int rc = serve::serve(listener, config);
  log("stopped");
  return rc;
}
