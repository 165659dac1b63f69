/// @file agent_main.cc
/// @brief Entry of search_agent, the host agent of one installation: listens
/// on the installation's query server port and answers the requests other
/// hosts make of the indexes here, each in a job process of its own.

#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "companions/agent/agent_daemon.h"
#include "companions/agent/agent_wire.h"
#include "companions/serve/daemon_options.h"
#include "companions/serve/listeners.h"
#include "companions/serve/socket_server.h"
#include "system/layout.h"
#include "system/numbers.h"

namespace {

constexpr const char* kUsage =
    "Usage: search_agent --root ROOT [OPTION]...\n"
    "Answers the searches, index descriptions, related terms and record details\n"
    "that other hosts ask of the indexes of the installation at ROOT. Runs in\n"
    "the foreground and logs to standard error; SIGTERM or SIGINT ends it. Run\n"
    "it as the account the web server runs searches as.\n"
    "\n"
    "Options:\n"
    "  --port N             TCP port (default: the installation's query server\n"
    "                       port, ROOT/setting/ts_query_server_port.cfg)\n"
    "  --address A          IPv4 address to listen on (default: ROOT/host_address)\n"
    "  --threads N          requests answered at once (1 to 64, default 4)\n"
    "  --allow A            serve only clients from address A (repeatable;\n"
    "                       default: every client)\n"
    "  --client-timeout MS  time a client has to send its request (10 to 60000,\n"
    "                       default 5000)\n"
    "  --job-time-limit S   time one request may take (1 to 3600, default 100)\n";

struct Options {
  std::string root;
  int64_t port = -1;
  std::string address;
  int64_t threads = 4;
  std::vector<uint32_t> allowed;
  int64_t clientTimeoutMs = 5000;
  int64_t jobTimeLimit = 100;
};

int usage(const std::string& problem) {
  std::fprintf(stderr, "%s: %s\n%s", agent::kDaemonName, problem.c_str(), kUsage);
  return 2;
}

int fail(const std::string& problem) {
  serve::logLine(agent::kDaemonName, problem);
  return 1;
}

// Many clients at once each hold a descriptor: take what the system allows.
void raiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

// Reads the arguments; 0 to go on, else the exit status (-1: exit 0).
int readOptions(int argc, char** argv, Options& o) {
  std::vector<std::string> allowed;
  const int rc = serve::readDaemonOptions(
      argc, argv, agent::kDaemonName, kUsage,
      {serve::textOption("--root", o.root), serve::textOption("--address", o.address),
       serve::listOption("--allow", allowed), serve::numberOption("--port", o.port, 1, 65535),
       serve::numberOption("--threads", o.threads, 1, 64),
       serve::numberOption("--client-timeout", o.clientTimeoutMs, 10, 60000),
       serve::numberOption("--job-time-limit", o.jobTimeLimit, 1, 3600)},
      "--root");
  if (rc != 0) return rc;
  for (const std::string& text : allowed) {
    uint32_t ip = 0;
    if (!serve::parseIPv4(text, ip)) return usage("bad argument --allow " + text);
    o.allowed.push_back(ip);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int status = readOptions(argc, argv, o)) return status < 0 ? 0 : status;
  char root[PATH_MAX];
  if (realpath(o.root.c_str(), root) == nullptr) return fail("no installation at " + o.root);
  // Every path of the installation is relative to its CGI directory, and the
  // jobs start there too.
  const std::string cgiDir = std::string(root) + "/search-cgi";
  if (chdir(cgiDir.c_str()) != 0) return fail("no CGI directory " + cgiDir);
  agent::JobSettings job;
  job.program = std::string(root) + "/binind/search_agent_job";
  if (o.port < 0) o.port = systemGetQueryServerPort();
  if (o.address.empty()) o.address = systemGetIPAddress();
  if (o.port < 1 || o.port > 65535) return fail("the query server port is no port");
  if (access(job.program.c_str(), X_OK) != 0) return fail("no job program " + job.program);
  std::string error;
  const int listener = serve::listenTcp(o.address, static_cast<uint16_t>(o.port), error);
  if (listener < 0) return fail(error);
  raiseDescriptorLimit();

  job.timeLimitSeconds = static_cast<int>(o.jobTimeLimit);
  serve::ServerConfig config;
  config.program = agent::kDaemonName;
  config.workers = static_cast<size_t>(o.threads);
  config.requestTimeoutMs = static_cast<int>(o.clientTimeoutMs);
  config.maxRequestBytes = agent::kMaxSearchRequestBytes;
  // Requests wait while the jobs run; hosts of a site search at once.
  config.maxQueued = 256;
  // A host on the far side of a slow link still gets a large answer.
  config.answerTimeoutMs = 30000;
  if (!o.allowed.empty()) config.peerCheck = serve::addressAllowList(o.allowed);
  job.namedUsersTrusted = !o.allowed.empty();
  config.refusedPeers = "from addresses not allowed";
  config.framer = agent::frameRequest;
  config.handler = [&job](const std::string& request, const std::function<bool()>&) {
    return agent::answerWithJob(job, request);
  };
  serve::logLine(agent::kDaemonName, "serving " + std::string(root) + " on " + o.address + ":" +
                                         std::to_string(o.port) + " (pid " +
                                         std::to_string(getpid()) + ", " +
                                         std::to_string(o.threads) + " threads)");
  const int rc = serve::serve(listener, config);
  serve::logLine(agent::kDaemonName, "stopped");
  return rc;
}
