/// @file getfilelist_main.cc
/// @brief Entry of getfilelist.exe, the page renderer: started by searchrun
/// (empty REQUEST_METHOD, arguments) or by the web server (a request naming a
/// result and a page, or a hit whose document is to be shown), it writes the
/// CGI answer for one page of a result or one document. A permit key the
/// request carried as a variable goes back to the browser as a cookie, so
/// that the links between pages never carry it.

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "access/cookie_permit.h"
#include "access/sign_in.h"
#include "cgi/cgi_service.h"
#include "cgi/cgi_string_parser.h"
#include "companions/doctext/library_convert.h"
#include "companions/records/local_files.h"
#include "companions/records/remote_records.h"
#include "companions/renderer/document_view.h"
#include "companions/renderer/handed_page.h"
#include "companions/renderer/page_writer.h"
#include "companions/renderer/render_request.h"
#include "companions/renderer/result_page.h"
#include "system/cookie_scope.h"
#include "system/layout.h"

namespace {

constexpr const char* kTmpDir = "../tmp";

// The renderer with the C library's converters, beside this one
// (library_convert.h).
constexpr const char* kTwinName = "getfilelist_conv.exe";
char** arguments = nullptr;
// The file searchrun handed over open with the words (the first pages of a
// large result, held in memory), and the name it stands for; -1 when none.
int givenFile = -1;
std::string givenName;

// Replaces this static renderer by its twin, with the same arguments and
// environment; nothing of the answer is written yet, and a request's body
// is still unread (a request with one is handed off before it is read).
[[noreturn]] void handOffToTwin() {
  // The twin reads the result by its name: the open file goes to disk.
  if (givenFile >= 0) copyFileExclusive(givenFile, std::string(kTmpDir) + "/" + givenName, 0600);
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string twin = kTwinName;
  if (n > 0) {
    const std::string path(self, static_cast<size_t>(n));
    twin = path.substr(0, path.rfind('/') + 1) + kTwinName;
  }
  execv(twin.c_str(), arguments);
  static const char kFailed[] =
      "Status: 500 Internal Server Error\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n"
      "The page renderer is incomplete: getfilelist_conv.exe is missing.\n";
  (void)!write(1, kFailed, sizeof kFailed - 1);
  _exit(1);
}

int answer(const render::CgiAnswer& a, int exitStatus) {
  const std::string text = a.text();
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  return exitStatus;
}

int language = -1;  // the installation's, for the pages

// The word that starts a renderer ahead of its page: searchrun starts it
// while it searches, and the renderer sets itself up meanwhile, then reads
// its arguments from standard input.
constexpr const char* kAwaitArguments = "--await-arguments";
// More than the words of any page request.
constexpr size_t kMaxAwaitedBytes = 8192;

// Reads a piece of the words from standard input, keeping a file that came
// with it (searchrun sends at most one, with the first piece); what read
// would give.
ssize_t receivePiece(char* piece, size_t size, UniqueFd& file) {
  iovec data{piece, size};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(STDIN_FILENO, &message, MSG_CMSG_CLOEXEC);
  if (n < 0 && errno == ENOTSOCK) return read(STDIN_FILENO, piece, size);
  for (cmsghdr* c = n >= 0 ? CMSG_FIRSTHDR(&message) : nullptr; c != nullptr;
       c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
    const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (size_t k = 0; k < count; ++k) {
      int fd;
      std::memcpy(&fd, CMSG_DATA(c) + k * sizeof(int), sizeof fd);
      if (file)
        close(fd);
      else
        file.reset(fd);
    }
  }
  return n;
}

// The words of the command line searchrun hands over, each ended by a NUL,
// and the file that came with them (else `file` stays empty); false when it
// handed none over (it answered itself, or ended) or the words are cut
// short: the renderer then leaves without a word of its own.
bool awaitArguments(std::vector<std::string>& words, UniqueFd& file) {
  std::string bytes;
  char piece[1024];
  for (;;) {
    const ssize_t n = receivePiece(piece, sizeof piece, file);
    if (n == 0) break;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || bytes.size() + static_cast<size_t>(n) > kMaxAwaitedBytes) return false;
    bytes.append(piece, static_cast<size_t>(n));
  }
  if (bytes.empty() || bytes.back() != '\0') return false;
  for (size_t at = 0; at < bytes.size();) {
    const size_t end = bytes.find('\0', at);
    words.push_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  return true;
}

int problem(const render::RenderRequest& request, const render::Problem& p, int exitStatus) {
  return answer(render::problemAnswer(request, p, language), exitStatus);
}

render::Problem problemOf(int status, const char* code, std::string message,
                          const std::string& raw) {
  return render::problemOf(status, code, std::move(message), raw, language);
}

int loadProblem(const render::RenderRequest& request, render::LoadStatus status) {
  return answer(render::loadProblemAnswer(request, status, language), 1);
}

// A page requested through the web server is shown only to the user who
// searched: the hits passed that user's access filters, not the caller's.
SignInResult admitWebRequest(const CGIStringParser& variables, const std::string& user,
                             unsigned loginTimeout) {
  MyService cookies;
  return checkSignIn(user.c_str(), variables.findCgiVariableByName("ks_key"),
                     cookies.cookieValue("ks_key"), loginTimeout, std::getenv("REMOTE_ADDR"));
}

void scopeCookie(render::CgiAnswer& result, const std::string& key) {
  render::scopeCookie(result, key, render::PageEnvironment::ofProcess());
}

// The document of a hit of another host: its agent reads it for the user
// who searched, with the checks of this host's view, and sends its text or
// its bytes; the page is this host's own.
int remoteDocumentAnswer(const render::ResultReader& reader, const render::RenderRequest& request,
                         render::ResultPage& page, const std::string& cookieKey,
                         const render::LinkContext& back,
                         const std::function<int(const char*, const char*)>& hitProblem) {
  render::HitView& hit = page.hits.front();
  RemoteRecordView view;
  std::string body;
  if (!render::fetchRemoteDocument(hit.line, page.user, request.raw, view, body))
    return hitProblem(render::problem_code::kDocumentNotShown,
                      "This document cannot be shown: its host does not give it, or it has "
                      "changed since it was indexed.");
  reader.describeHit(view, hit);
  render::CgiAnswer result;
  if (request.raw) {
    result = render::rawDocumentAnswer(page, hit, std::string_view(body));
  } else {
    render::DocumentView doc;
    doc.title = view.docTitle;
    doc.cut = view.cutAfter;
    doc.text = std::move(body);
    result = render::renderDocumentView(page, hit, doc, back);
  }
  scopeCookie(result, cookieKey);
  if (!request.raw) return answer(result, 0);
  const std::string header = result.header();
  std::fwrite(header.data(), 1, header.size(), stdout);
  std::fwrite(body.data(), 1, body.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

// The document of hit request.view, for a request already admitted: the
// same checks as its snippet (openRecordedDocument), so that only the file
// the index read is ever shown.
int documentAnswer(render::ResultReader& reader, const render::RenderRequest& request,
                   const std::string& cookieKey) {
  render::ResultPage page;
  render::RecordDetails details;
  const render::LoadStatus loaded = reader.loadHit(request, page, details);
  // The result is there: its search and its first page are the ways on.
  const std::string again = render::againRequest(page.queryUrl);
  render::LinkContext back;
  back.request = request;
  back.request.again = again;
  const auto hitProblem = [&](const char* code, const char* message) {
    render::Problem p = problemOf(404, code, message, again);
    p.backUrl = render::pageLinkUrl(back, page, 1);
    p.backLabel = "Back to the results";
    return problem(request, p, 0);
  };
  if (loaded == render::LoadStatus::kNotFound)
    return hitProblem(render::problem_code::kNoHit, "This search result has no such hit.");
  if (loaded != render::LoadStatus::kOk) return loadProblem(request, loaded);
  if (!reader.isLocalHost(page.hits.front().line.host))
    return remoteDocumentAnswer(reader, request, page, cookieKey, back, hitProblem);
  // A row of a database index has no file of its own: its view is its cells.
  if (!details.fields.empty()) {
    render::CgiAnswer result = render::renderRowView(page, page.hits.front(), back);
    scopeCookie(result, cookieKey);
    return answer(result, 0);
  }
  const UniqueFd fd = openRecordedDocument(details, language);
  if (!fd)
    return hitProblem(render::problem_code::kDocumentNotShown,
                      "This document cannot be shown: it is not on this server, or it has "
                      "changed since it was indexed.");
  const render::HitView& hit = page.hits.front();
  render::CgiAnswer result;
  render::DocumentView view;
  if (request.raw) {
    result = render::rawDocumentAnswer(page, hit, fd.get());
  } else if (render::readRecordView(details, fd.get(), language, view)) {
    result = render::renderDocumentView(page, hit, view, back);
  } else {
    return problem(request,
                   problemOf(500, render::problem_code::kDocumentUnreadable,
                             "The document cannot be read.", again),
                   1);
  }
  scopeCookie(result, cookieKey);
  if (!request.raw) return answer(result, 0);
  const std::string header = result.header();
  std::fwrite(header.data(), 1, header.size(), stdout);
  // The bytes the index recorded, and no more: the file matched that size.
  return render::copyDocument(fd.get(), details.size, stdout) ? 0 : 1;
}

// searchrun's words: the page of a result. A file that came with the
// words is the result they name, read as if found under that name.
int handedPage(int argc, char** argv, const render::Installation& inst, UniqueFd given) {
  if (given) {
    render::RenderRequest named;
    std::string why;
    if (render::parseArgumentRequest(argc, argv, named, why)) {
      givenName = named.result;
      givenFile = fcntl(given.get(), F_DUPFD_CLOEXEC, 0);
    }
  }
  std::string text;
  const int status = render::answerHandedWords(std::vector<std::string>(argv + 1, argv + argc),
                                               render::PageEnvironment::ofProcess(), inst, kTmpDir,
                                               std::move(given), text);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  arguments = argv;
  render::setFullRuntimeHandOff(handOffToTwin);
  const render::Installation inst = render::Installation::read();
  language = inst.language;
  const char* method = std::getenv("REQUEST_METHOD");
  // Every text of another language's installation is converted, and the
  // body of a request that is not a GET is read once only: the twin does it
  // all from the start.
  if (!render::hasFullRuntime() &&
      (inst.language != kLangEN ||
       (method != nullptr && *method != '\0' && std::strcmp(method, "GET") != 0)))
    render::requireFullRuntime();
  std::vector<std::string> awaited;
  std::vector<char*> awaitedArgv;
  UniqueFd given;
  if ((method == nullptr || *method == '\0') && argc == 2 &&
      std::strcmp(argv[1], kAwaitArguments) == 0) {
    if (!awaitArguments(awaited, given)) return 0;
    awaitedArgv.push_back(argv[0]);
    for (std::string& word : awaited)
      awaitedArgv.push_back(word.data());
    awaitedArgv.push_back(nullptr);
    argc = static_cast<int>(awaitedArgv.size()) - 1;
    argv = awaitedArgv.data();
    arguments = argv;  // the twin, should it take over, gets the words
  }
  if (method == nullptr || *method == '\0') return handedPage(argc, argv, inst, std::move(given));
  render::RenderRequest request;
  CGIStringParser variables;
  std::string why;
  variables.setSysLanuage(inst.language);
  request.fromWebServer = true;
  // `why` is one of the parser's fixed reasons: nothing of the request or of
  // the file system is echoed.
  if (variables.initialize() < 0 || !render::parseWebRequest(variables, request, why))
    return problem(
        request,
        problemOf(400, render::problem_code::kBadRequest, "Bad request: " + why, request.again), 0);

  render::ResultReader reader(kTmpDir, inst);
  const render::LoadStatus opened = reader.open(request.result);
  // A link of ours names its search: the result was there and has expired.
  if (opened == render::LoadStatus::kNotFound && !request.again.empty())
    return problem(request,
                   problemOf(410, render::problem_code::kNoResult,
                             "This search result has expired: results are kept for a while "
                             "only. Run the search again for its current hits.",
                             request.again),
                   0);
  if (opened == render::LoadStatus::kNotFound)
    return problem(request,
                   problemOf(404, render::problem_code::kNoResult,
                             "There is no such search result.", request.again),
                   0);
  if (opened != render::LoadStatus::kOk) return loadProblem(request, opened);
  std::string cookieKey;
  const SignInResult signIn = admitWebRequest(variables, reader.user(), inst.loginTimeoutSeconds);
  // Not the searching user's: nothing of the search is offered.
  if (signIn.result != 0)
    return problem(request,
                   problemOf(403, render::problem_code::kSignIn,
                             "Please sign in again to see this search result.", ""),
                   0);
  if (signIn.keyFromRequest) cookieKey = signIn.key;

  if (request.view > 0) return documentAnswer(reader, request, cookieKey);

  render::ResultPage page;
  const render::LoadStatus loaded = reader.load(request, page);
  if (loaded != render::LoadStatus::kOk) return loadProblem(request, loaded);
  render::LinkContext links;
  links.request = request;
  links.request.again = render::againRequest(page.queryUrl);
  render::CgiAnswer result = render::renderResultPage(page, links);
  scopeCookie(result, cookieKey);
  return answer(result, 0);
}
