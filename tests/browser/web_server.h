/// @file web_server.h
/// @brief The web server of the browser tests: on a loopback address of its
/// own it serves an installation's search page and runs its two CGI
/// programs, one request per connection (HTTP/1.0), within bounds.

#ifndef SEARCHRUN_TESTS_BROWSER_WEB_SERVER_H
#define SEARCHRUN_TESTS_BROWSER_WEB_SERVER_H

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace browser {

struct HttpRequest {
  std::string method;
  std::string target;  // as sent: path and query
  std::string path;
  std::string query;                           // after "?", still encoded
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// The head of a request, up to and including its empty line. Nothing for a
// request line or header line of another form.
std::optional<HttpRequest> parseRequestHead(std::string_view head);

struct HttpResponse {
  int status = 200;
  std::string reason = "OK";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The whole answer, with its length and "Connection: close".
  std::string text() const;
};

// The answer of a CGI program as an HTTP response: its header lines up to
// the first empty line (CRLF or LF), "Status: 302 Found" and "Location:"
// setting the status. Nothing when the program wrote no header end, or none
// of Content-Type, Location and Status.
std::optional<HttpResponse> responseFromCgi(std::string_view output);

class TestWebServer {
 public:
  // Serves the installation at `root`: /search/index.html from its
  // search/ folder, /search-cgi/searchrun and /search-cgi/getfilelist.exe
  // run in its CGI folder, nothing else.
  explicit TestWebServer(std::string root);
  ~TestWebServer();
  TestWebServer(const TestWebServer&) = delete;
  TestWebServer& operator=(const TestWebServer&) = delete;

  // Listens on `address` at a port the system chooses. False, with
  // failure() telling why, when it cannot.
  bool start(const std::string& address);
  const std::string& failure() const { return failure_; }
  std::string origin() const;  // "http://127.0.0.2:PORT"

  struct Served {
    std::string method;
    std::string target;
    int status;
  };
  // Every request answered so far, in order.
  std::vector<Served> served() const;

  // Bounds of one request.
  static constexpr size_t kMaxHead = 64 * 1024;
  static constexpr size_t kMaxBody = 1024 * 1024;
  static constexpr int kCgiLimitMs = 60000;
  static constexpr size_t kMaxCgiOutput = 16 * 1024 * 1024;

 private:
  struct Connection;
  void loop();
  // True when the connection is done (answered or given up).
  bool readFrom(Connection& c);
  HttpResponse answer(const HttpRequest& request, const std::string& peer);
  HttpResponse runCgi(const std::string& program, const HttpRequest& request,
                      const std::string& peer);
  void respond(int fd, const HttpRequest* request, const HttpResponse& response);

  std::string root_;
  std::string address_;
  int port_ = 0;
  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  std::thread thread_;
  std::string failure_;
  mutable std::mutex mutex_;
  std::vector<Served> served_;
};

}  // namespace browser

#endif  // SEARCHRUN_TESTS_BROWSER_WEB_SERVER_H
