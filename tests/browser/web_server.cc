/// @file web_server.cc
/// @brief The browser tests' web server: request heads, CGI answers and the
/// serving loop.

#include "tests/browser/web_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>

#include "system/secure_file.h"
#include "tests/process_run.h"

namespace browser {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxConnections = 32;
constexpr auto kIdleLimit = std::chrono::seconds(10);

std::string trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t'))
    ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
    --e;
  return std::string(s.substr(b, e - b));
}

std::string lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool isToken(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c <= ' ' || c >= 127 || c == ':' || c == '(' || c == ')' || c == '"' || c == ',')
      return false;
  }
  return true;
}

// Splits at line feeds, dropping the carriage return before each.
std::vector<std::string_view> lines(std::string_view text) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (size_t at; (at = text.find('\n', start)) != std::string_view::npos; start = at + 1) {
    std::string_view line = text.substr(start, at - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.push_back(line);
  }
  return out;
}

const char* reasonOf(int status) {
  static const std::map<int, const char*> kReasons = {{200, "OK"},
                                                      {302, "Found"},
                                                      {400, "Bad Request"},
                                                      {404, "Not Found"},
                                                      {405, "Method Not Allowed"},
                                                      {413, "Content Too Large"},
                                                      {431, "Request Header Fields Too Large"},
                                                      {502, "Bad Gateway"}};
  const auto it = kReasons.find(status);
  return it == kReasons.end() ? "Status" : it->second;
}

HttpResponse plain(int status, const std::string& text) {
  HttpResponse r;
  r.status = status;
  r.reason = reasonOf(status);
  r.headers = {{"Content-Type", "text/plain; charset=utf-8"}};
  r.body = text + "\n";
  return r;
}

// Where the head of a request ends (past its empty line); npos while it has
// not come whole.
size_t headEnd(std::string_view in) {
  const size_t crlf = in.find("\r\n\r\n");
  const size_t lf = in.find("\n\n");
  if (crlf == std::string_view::npos && lf == std::string_view::npos) return std::string_view::npos;
  return crlf < lf ? crlf + 4 : lf + 2;
}

}  // namespace

std::optional<HttpRequest> parseRequestHead(std::string_view head) {
  const std::vector<std::string_view> all = lines(head);
  if (all.size() < 2 || !all.back().empty()) return std::nullopt;
  HttpRequest r;
  const std::string_view first = all[0];
  const size_t s1 = first.find(' ');
  const size_t s2 = s1 == std::string_view::npos ? s1 : first.find(' ', s1 + 1);
  if (s2 == std::string_view::npos) return std::nullopt;
  r.method = first.substr(0, s1);
  r.target = first.substr(s1 + 1, s2 - s1 - 1);
  const std::string_view version = first.substr(s2 + 1);
  if (!isToken(r.method) || r.target.empty() || r.target[0] != '/' ||
      (version != "HTTP/1.0" && version != "HTTP/1.1"))
    return std::nullopt;
  for (char c : r.target) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 127) return std::nullopt;
  }
  const size_t q = r.target.find('?');
  r.path = r.target.substr(0, q);
  r.query = q == std::string::npos ? "" : r.target.substr(q + 1);
  for (size_t i = 1; i + 1 < all.size(); ++i) {
    const size_t colon = all[i].find(':');
    if (colon == std::string_view::npos || !isToken(all[i].substr(0, colon))) return std::nullopt;
    const std::string name = lower(std::string(all[i].substr(0, colon)));
    const std::string value = trim(all[i].substr(colon + 1));
    std::string& slot = r.headers[name];
    slot += slot.empty() ? value : (name == "cookie" ? "; " : ", ") + value;
  }
  return r;
}

std::string HttpResponse::text() const {
  std::string out = "HTTP/1.0 " + std::to_string(status) + " " + reason + "\r\n";
  for (const auto& [name, value] : headers)
    out += name + ": " + value + "\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  return out + body;
}

std::optional<HttpResponse> responseFromCgi(std::string_view output) {
  HttpResponse r;
  bool typed = false, located = false, statused = false;
  size_t start = 0;
  for (;;) {
    const size_t at = output.find('\n', start);
    if (at == std::string_view::npos) return std::nullopt;  // no end of the header
    std::string_view line = output.substr(start, at - start);
    start = at + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) return std::nullopt;
    const std::string name(line.substr(0, colon));
    const std::string value = trim(line.substr(colon + 1));
    if (strcasecmp(name.c_str(), "Status") == 0) {
      if (value.size() < 3 || !std::isdigit(static_cast<unsigned char>(value[0])) ||
          !std::isdigit(static_cast<unsigned char>(value[1])) ||
          !std::isdigit(static_cast<unsigned char>(value[2])) ||
          (value.size() > 3 && value[3] != ' '))
        return std::nullopt;
      r.status = std::stoi(value.substr(0, 3));
      r.reason = value.size() > 4 ? value.substr(4) : reasonOf(r.status);
      statused = true;
      continue;
    }
    typed = typed || strcasecmp(name.c_str(), "Content-Type") == 0;
    located = located || strcasecmp(name.c_str(), "Location") == 0;
    r.headers.emplace_back(name, value);
  }
  if (!typed && !located && !statused) return std::nullopt;
  if (located && !statused) {
    r.status = 302;
    r.reason = reasonOf(302);
  }
  r.body = output.substr(start);
  return r;
}

struct TestWebServer::Connection {
  UniqueFd fd;
  std::string peer;
  std::string in;
  Clock::time_point deadline;
};

TestWebServer::TestWebServer(std::string root) : root_(std::move(root)) {}

TestWebServer::~TestWebServer() {
  if (thread_.joinable()) {
    const char stop = 's';
    if (write(stopPipe_[1], &stop, 1) != 1) {
      // The loop also ends when the pipe closes below.
    }
    thread_.join();
  }
  for (int fd : {listenFd_, stopPipe_[0], stopPipe_[1]}) {
    if (fd >= 0) close(fd);
  }
}

bool TestWebServer::start(const std::string& address) {
  address_ = address;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    failure_ = "not an IPv4 address: " + address;
    return false;
  }
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  socklen_t len = sizeof sa;
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      listen(listenFd_, 16) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
      pipe2(stopPipe_, O_CLOEXEC) != 0) {
    failure_ = "cannot listen on " + address + ": " + std::string(strerror(errno));
    return false;
  }
  port_ = ntohs(sa.sin_port);
  thread_ = std::thread([this] { loop(); });
  return true;
}

std::string TestWebServer::origin() const {
  return "http://" + address_ + ":" + std::to_string(port_);
}

std::vector<TestWebServer::Served> TestWebServer::served() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return served_;
}

void TestWebServer::loop() {
  std::vector<std::unique_ptr<Connection>> open;
  for (;;) {
    std::vector<pollfd> fds = {{stopPipe_[0], POLLIN, 0}};
    if (open.size() < kMaxConnections) fds.push_back({listenFd_, POLLIN, 0});
    for (const auto& c : open)
      fds.push_back({c->fd.get(), POLLIN, 0});
    if (poll(fds.data(), fds.size(), 500) < 0 && errno != EINTR) return;
    if (fds[0].revents) return;
    if (open.size() < kMaxConnections && (fds[1].revents & POLLIN)) {
      sockaddr_in peer{};
      socklen_t len = sizeof peer;
      const int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len,
                             SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0) {
        char text[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        open.push_back(std::make_unique<Connection>(
            Connection{UniqueFd(fd), text, std::string(), Clock::now() + kIdleLimit}));
      }
    }
    const size_t first = fds.size() - open.size();
    std::vector<std::unique_ptr<Connection>> still;
    for (size_t i = 0; i < open.size(); ++i) {
      const bool ready = i + first < fds.size() && fds[i + first].revents != 0;
      // A connection opened ahead of need and never used goes at its limit.
      const bool done = ready ? readFrom(*open[i]) : Clock::now() > open[i]->deadline;
      if (!done) still.push_back(std::move(open[i]));
    }
    open = std::move(still);
  }
}

bool TestWebServer::readFrom(Connection& c) {
  char buf[16384];
  const ssize_t got = read(c.fd.get(), buf, sizeof buf);
  if (got < 0) return errno != EAGAIN && errno != EINTR;
  if (got == 0) return true;  // gone before the request came whole
  c.in.append(buf, static_cast<size_t>(got));
  const size_t end = headEnd(c.in);
  if (end == std::string::npos ? c.in.size() > kMaxHead : end > kMaxHead) {
    respond(c.fd.get(), nullptr, plain(431, "request head too large"));
    return true;
  }
  if (end == std::string::npos) return false;
  std::optional<HttpRequest> request = parseRequestHead(std::string_view(c.in).substr(0, end));
  if (!request) {
    respond(c.fd.get(), nullptr, plain(400, "bad request"));
    return true;
  }
  size_t length = 0;
  const std::string& declared = request->headers["content-length"];
  if (!declared.empty()) {
    if (declared.size() > 9 || declared.find_first_not_of("0123456789") != std::string::npos) {
      respond(c.fd.get(), &*request, plain(400, "bad Content-Length"));
      return true;
    }
    length = std::stoul(declared);
  }
  if (length > kMaxBody) {
    respond(c.fd.get(), &*request, plain(413, "request body too large"));
    return true;
  }
  if (c.in.size() - end < length) return false;
  request->body = c.in.substr(end, length);
  respond(c.fd.get(), &*request, answer(*request, c.peer));
  return true;
}

HttpResponse TestWebServer::answer(const HttpRequest& request, const std::string& peer) {
  if (request.method != "GET" && request.method != "POST") return plain(405, "GET or POST");
  if (request.path == "/search/" || request.path == "/search/index.html") {
    std::string page;
    if (request.method != "GET" || !readRegularFile(root_ + "/search/index.html", page, 1 << 22))
      return plain(404, "no search page");
    HttpResponse r;
    // The headers the demo's web server gives its static pages.
    r.headers = {{"Content-Type", "text/html; charset=utf-8"},
                 {"X-Content-Type-Options", "nosniff"},
                 {"Content-Security-Policy",
                  "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
                  "base-uri 'none'; frame-ancestors 'none'"}};
    r.body = std::move(page);
    return r;
  }
  if (request.path == "/search-cgi/searchrun") return runCgi("searchrun", request, peer);
  if (request.path == "/search-cgi/getfilelist.exe")
    return runCgi("getfilelist.exe", request, peer);
  return plain(404, "not found");
}

HttpResponse TestWebServer::runCgi(const std::string& program, const HttpRequest& request,
                                   const std::string& peer) {
  std::vector<std::string> env = {
      "GATEWAY_INTERFACE=CGI/1.1",
      "SERVER_PROTOCOL=HTTP/1.0",
      "SERVER_NAME=" + address_,
      "SERVER_PORT=" + std::to_string(port_),
      "REMOTE_ADDR=" + peer,
      "REQUEST_METHOD=" + request.method,
      "QUERY_STRING=" + request.query,
      "SCRIPT_NAME=" + request.path,
      "PATH=/usr/bin:/bin",
  };
  if (request.method == "POST")
    env.push_back("CONTENT_LENGTH=" + std::to_string(request.body.size()));
  for (const auto& [header, variable] :
       std::vector<std::pair<std::string, std::string>>{{"content-type", "CONTENT_TYPE"},
                                                        {"cookie", "HTTP_COOKIE"},
                                                        {"host", "HTTP_HOST"},
                                                        {"user-agent", "HTTP_USER_AGENT"}}) {
    const auto it = request.headers.find(header);
    if (it != request.headers.end()) env.push_back(variable + "=" + it->second);
  }
  // No shell; a program past its time or its output limit is killed with
  // its process group.
  testutil::ProcessSpec spec;
  spec.cwd = root_ + "/search-cgi";
  spec.path = spec.cwd + "/" + program;
  spec.env = env;
  spec.input = request.body;
  spec.limitMs = kCgiLimitMs;
  spec.maxOutput = kMaxCgiOutput;
  spec.ownGroup = true;
  const testutil::ProcessResult run = testutil::runProcess(spec);
  std::optional<HttpResponse> r = run.finished ? responseFromCgi(run.out) : std::nullopt;
  if (!r) {
    return plain(502, program + " ended with " + std::to_string(run.exitStatus) +
                          " without an answer:\n" + run.out.substr(0, 2000) +
                          run.err.substr(0, 2000));
  }
  return *r;
}

void TestWebServer::respond(int fd, const HttpRequest* request, const HttpResponse& response) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    served_.push_back(
        {request ? request->method : "", request ? request->target : "", response.status});
  }
  // The answer goes out whole or not at all within the limit.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const timeval limit{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  writeAll(fd, response.text());
  shutdown(fd, SHUT_WR);
}

}  // namespace browser
