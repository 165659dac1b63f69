/// @file devtools.cc
/// @brief Starting headless Chromium with its DevTools pipe, the protocol's
/// commands and events, and a tab that acts as a person would.

#include "tests/browser/devtools.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "system/secure_file.h"

namespace browser {

namespace {

constexpr size_t kMaxMessage = 64u << 20;
constexpr int kLoadLimitMs = 30000;

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Waits for the child at most `limitMs`; true when it was reaped.
bool reap(pid_t pid, int limitMs) {
  const long long deadline = nowMs() + limitMs;
  for (;;) {
    int status;
    const pid_t got = waitpid(pid, &status, WNOHANG);
    if (got == pid || (got < 0 && errno != EINTR)) return true;
    if (nowMs() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

bool Chromium::installed() {
  return access(kChromium, X_OK) == 0;
}

Chromium::Chromium() {
  signal(SIGPIPE, SIG_IGN);  // a browser that died answers a write with an error, not a signal
  int commands[2] = {-1, -1}, answers[2];
  if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0) {
    for (int fd : commands)
      if (fd >= 0) close(fd);
    failure_ = "no pipe";
    return;
  }
  const std::string log = profile_.sub("chromium.log");
  UniqueFd logFd = createExclusive(log, 0600);
  UniqueFd devNull(open("/dev/null", O_RDONLY | O_CLOEXEC));
  std::vector<std::string> args = {kChromium,
                                   "--headless",
                                   "--no-sandbox",
                                   "--disable-gpu",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--no-first-run",
                                   "--disable-sync",
                                   "--user-data-dir=" + profile_.sub("profile"),
                                   "--remote-debugging-pipe",
                                   "about:blank"};
  // A home of its own: nothing of the account's is read or cleaned up.
  std::vector<std::string> env = {"HOME=" + profile_.path(), "PATH=/usr/bin:/bin"};
  std::vector<char*> argv, envp;
  for (std::string& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_ = fork();
  if (pid_ == 0) {
    // Its own process group, so that whatever it starts can be ended with it.
    setpgid(0, 0);
    // The protocol's descriptors are 3 (commands in) and 4 (answers out);
    // moved out of the way first, as the pipes may hold 3 or 4 themselves.
    const int in = fcntl(commands[0], F_DUPFD, 10);
    const int out = fcntl(answers[1], F_DUPFD, 10);
    if (in < 0 || out < 0 || dup2(in, 3) < 0 || dup2(out, 4) < 0 || dup2(devNull.get(), 0) < 0 ||
        dup2(logFd.get(), 1) < 0 || dup2(logFd.get(), 2) < 0)
      _exit(126);
    execve(kChromium, argv.data(), envp.data());
    _exit(127);
  }
  close(commands[0]);
  close(answers[1]);
  toBrowser_ = commands[1];
  fromBrowser_ = answers[0];
  if (pid_ < 0) {
    failure_ = "cannot fork";
    broken_ = true;
    return;
  }
  setpgid(pid_, pid_);
  if (!call("Browser.getVersion")) broken_ = true;
}

Chromium::~Chromium() {
  if (pid_ > 0) {
    if (!broken_) call("Browser.close", Json::Object{}, "", 5000);
    if (!reap(pid_, 10000)) {
      kill(-pid_, SIGKILL);
      reap(pid_, 10000);
    }
    // Helpers it started and left behind belong to its group.
    kill(-pid_, SIGKILL);
  }
  if (toBrowser_ >= 0) close(toBrowser_);
  if (fromBrowser_ >= 0) close(fromBrowser_);
}

std::string Chromium::failure() const {
  std::string log = testutil::readFile(profile_.sub("chromium.log"));
  if (log.size() > 3000) log = "..." + log.substr(log.size() - 3000);
  return failure_ + "\nchromium's messages:\n" + log;
}

bool Chromium::receive(long long deadlineMs) {
  for (;;) {
    const size_t end = buffer_.find('\0');
    if (end != std::string::npos) {
      std::optional<Json> message = Json::parse(std::string_view(buffer_).substr(0, end));
      const std::string text = buffer_.substr(0, std::min<size_t>(end, 200));
      buffer_.erase(0, end + 1);
      if (!message || !message->isObject()) {
        failure_ = "not a protocol message: " + text;
        broken_ = true;
        return false;
      }
      if (message->has("id")) {
        answer_ = std::move(*message);
      } else {
        if (onEvent) onEvent(*message);
        events_.push_back(std::move(*message));
      }
      return true;
    }
    if (buffer_.size() > kMaxMessage) {
      failure_ = "a message over " + std::to_string(kMaxMessage) + " bytes";
      broken_ = true;
      return false;
    }
    const long long left = deadlineMs - nowMs();
    if (left <= 0) {
      failure_ = "no answer in time";
      return false;
    }
    pollfd p{fromBrowser_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) {
      failure_ = "poll failed";
      broken_ = true;
      return false;
    }
    if (ready <= 0) continue;
    char buf[65536];
    const ssize_t got = read(fromBrowser_, buf, sizeof buf);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
      failure_ = "the browser is gone";
      broken_ = true;
      return false;
    }
    if (got > 0) buffer_.append(buf, static_cast<size_t>(got));
  }
}

std::optional<Json> Chromium::call(const std::string& method, const Json& params,
                                   const std::string& session, int limitMs) {
  if (broken_) return std::nullopt;
  const int id = ++nextId_;
  Json::Object message = {{"id", id}, {"method", method}, {"params", params}};
  if (!session.empty()) message["sessionId"] = session;
  if (!writeAll(toBrowser_, Json(message).dump() + std::string(1, '\0'))) {
    failure_ = "cannot write to the browser";
    broken_ = true;
    return std::nullopt;
  }
  const long long deadline = nowMs() + limitMs;
  while (receive(deadline)) {
    if (!answer_ || (*answer_)["id"].asNumber(-1) != id) continue;
    Json answer = std::move(*answer_);
    answer_.reset();
    if (answer.has("error")) {
      failure_ = method + ": " + answer["error"].dump();
      return std::nullopt;
    }
    return answer["result"];
  }
  failure_ = method + ": " + failure_;
  return std::nullopt;
}

std::optional<Json> Chromium::waitForEvent(const std::string& method, const std::string& session,
                                           int limitMs) {
  const long long deadline = nowMs() + limitMs;
  for (;;) {
    while (!events_.empty()) {
      Json event = std::move(events_.front());
      events_.pop_front();
      if (event["method"].asString() == method && event["sessionId"].asString() == session)
        return event;
    }
    if (!receive(deadline)) {
      failure_ = "waiting for " + method + ": " + failure_;
      return std::nullopt;
    }
  }
}

Tab::Tab(Chromium& browser) : browser_(browser) {
  std::optional<Json> target =
      browser_.call("Target.createTarget", Json::object({{"url", "about:blank"}}));
  if (!target) return;
  target_ = (*target)["targetId"].asString();
  std::optional<Json> attached = browser_.call(
      "Target.attachToTarget", Json::object({{"targetId", target_}, {"flatten", true}}));
  if (!attached) return;
  const std::string session = (*attached)["sessionId"].asString();
  browser_.onEvent = [this, session](const Json& event) {
    // A page's own scripts carry its address; what DevTools evaluates has none.
    if (event["method"].asString() == "Debugger.scriptParsed" &&
        event["sessionId"].asString() == session) {
      const std::string url = event["params"]["url"].asString();
      if (!url.empty()) pageScripts_.push_back(url);
    }
  };
  if (browser_.call("Page.enable", Json::Object{}, session) &&
      browser_.call("Debugger.enable", Json::Object{}, session) &&
      browser_.call("Debugger.setSkipAllPauses", Json::object({{"skip", true}}), session)) {
    session_ = session;
  }
}

Tab::~Tab() {
  browser_.onEvent = nullptr;
  if (!target_.empty()) browser_.call("Target.closeTarget", Json::object({{"targetId", target_}}));
}

bool Tab::open(const std::string& url) {
  if (!ready()) return false;
  browser_.forgetEvents();
  std::optional<Json> r = browser_.call("Page.navigate", Json::object({{"url", url}}), session_);
  if (!r || !(*r)["errorText"].asString().empty()) return false;
  return browser_.waitForEvent("Page.loadEventFired", session_, kLoadLimitMs).has_value();
}

std::optional<Json> Tab::eval(const std::string& expression) {
  if (!ready()) return std::nullopt;
  std::optional<Json> r = browser_.call(
      "Runtime.evaluate",
      Json::object({{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}}),
      session_);
  if (!r || r->has("exceptionDetails")) return std::nullopt;
  return (*r)["result"]["value"];
}

bool Tab::follow(const std::string& action) {
  if (!ready()) return false;
  browser_.forgetEvents();
  if (!eval(action)) return false;
  return browser_.waitForEvent("Page.loadEventFired", session_, kLoadLimitMs).has_value();
}

bool Tab::emulateWidth(int cssPixels) {
  if (!ready()) return false;
  if (cssPixels <= 0)
    return browser_.call("Emulation.clearDeviceMetricsOverride", Json::Object{}, session_)
        .has_value();
  return browser_
      .call(
          "Emulation.setDeviceMetricsOverride",
          Json::object(
              {{"width", cssPixels}, {"height", 800}, {"deviceScaleFactor", 2}, {"mobile", true}}),
          session_)
      .has_value();
}

namespace {

std::string fromBase64(const std::string& text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* at = c != '\0' ? std::strchr(digits, c) : nullptr;
    if (at == nullptr) continue;  // padding
    bits = (bits << 6) | static_cast<uint32_t>(at - digits);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

}  // namespace

std::string Tab::screenshot() {
  if (!ready()) return "";
  const std::optional<Json> shot =
      browser_.call("Page.captureScreenshot",
                    Json::object({{"format", "png"}, {"captureBeyondViewport", true}}), session_);
  return shot ? fromBase64((*shot)["data"].asString()) : "";
}

}  // namespace browser
