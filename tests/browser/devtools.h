/// @file devtools.h
/// @brief Headless Chromium driven through its DevTools protocol over a
/// pipe: the browser, and a tab in it that loads pages, evaluates
/// expressions in them and follows what a person clicks.

#ifndef SEARCHRUN_TESTS_BROWSER_DEVTOOLS_H
#define SEARCHRUN_TESTS_BROWSER_DEVTOOLS_H

#include <sys/types.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/json.h"
#include "tests/test_util.h"

namespace browser {

using testjson::Json;

// Debian's package puts the browser here.
constexpr const char* kChromium = "/usr/bin/chromium";

class Chromium {
 public:
  // True when the browser is installed.
  static bool installed();

  // Starts the browser with a fresh profile; running() tells whether it did.
  Chromium();
  // Closes the browser, killing it and every process it started when it
  // does not end by itself.
  ~Chromium();
  Chromium(const Chromium&) = delete;
  Chromium& operator=(const Chromium&) = delete;

  bool running() const { return pid_ > 0 && !broken_; }
  // Why the last call failed, with the end of the browser's own messages.
  std::string failure() const;

  // Sends a command (to a page when `session` is given) and waits at most
  // `limitMs` for its answer. The answer's result, or nothing when the
  // browser answered with an error, did not answer or is gone.
  std::optional<Json> call(const std::string& method, const Json& params = Json::Object{},
                           const std::string& session = "", int limitMs = 30000);
  // Waits for an event of `method` of `session` received after the last
  // forgetEvents; events before it are dropped.
  std::optional<Json> waitForEvent(const std::string& method, const std::string& session,
                                   int limitMs);
  void forgetEvents() { events_.clear(); }
  // Called with every event as it arrives.
  std::function<void(const Json&)> onEvent;

 private:
  // Reads one message within the deadline; false when none came.
  bool receive(long long deadlineMs);

  testutil::TempDir profile_;
  pid_t pid_ = -1;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  bool broken_ = false;
  std::string failure_;
  std::string buffer_;
  std::deque<Json> events_;
  std::optional<Json> answer_;  // the last message with an id
  int nextId_ = 0;
};

// A tab of the browser, attached to its own session.
class Tab {
 public:
  explicit Tab(Chromium& browser);
  ~Tab();
  Tab(const Tab&) = delete;
  Tab& operator=(const Tab&) = delete;

  bool ready() const { return !session_.empty(); }

  // Loads `url` and waits for its load event.
  bool open(const std::string& url);
  // The value of an expression evaluated in the page (a promise is awaited);
  // nothing when it threw or the browser failed. DevTools evaluation is not
  // held back by the page's Content-Security-Policy.
  std::optional<Json> eval(const std::string& expression);
  // Runs an action that leads to another page (a click, a submit) and waits
  // for that page's load event.
  bool follow(const std::string& action);
  // Lays pages out as a phone of that width in CSS pixels (the page's
  // viewport meta decides its layout width), or as a desktop window for 0.
  bool emulateWidth(int cssPixels);
  // The whole page as shown, as PNG bytes; "" when the browser failed.
  std::string screenshot();

  // Addresses of the scripts that pages loaded in this tab ran.
  const std::vector<std::string>& pageScripts() const { return pageScripts_; }

 private:
  Chromium& browser_;
  std::string target_;
  std::string session_;
  std::vector<std::string> pageScripts_;
};

}  // namespace browser

#endif  // SEARCHRUN_TESTS_BROWSER_DEVTOOLS_H
