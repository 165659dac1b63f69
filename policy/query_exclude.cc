/// @file query_exclude.cc
/// @brief Loading an exclusion list and checking the words of a query.

#include "policy/query_exclude.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <new>

#include "system/secure_file.h"

int g_search_keyword_allowed = 1;

void resetPolicyRunState() {
  g_search_keyword_allowed = 1;
  std::setlocale(LC_CTYPE, "C");
}

namespace {

// Reads the regular file behind `fd` whole into `bytes` with one spare byte
// at the end. A file that shrinks while read keeps what was there.
bool readWhole(int fd, std::vector<char>& bytes) {
  struct stat st;
  // O_NONBLOCK on open keeps a FIFO from stalling the search; only regular
  // files are lists.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  try {
    bytes.assign(static_cast<size_t>(st.st_size) + 1, '\0');
  } catch (const std::bad_alloc&) {
    return false;
  }
  size_t got = 0;
  while (got + 1 < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - 1 - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got + 1);
  return true;
}

}  // namespace

int ExclusionList::getList(const char* path) {
  clearExcludeFile();
  if (path == nullptr) return kExcludeListUnreadable;
  // A list file is read only as the regular file it is meant to be: never
  // through a link, and never blocking on a FIFO.
  const UniqueFd fd = openRegularFile(path);
  if (!fd) return kExcludeListUnreadable;
  const bool read = readWhole(fd.get(), m_file);
  if (!read) {
    clearExcludeFile();
    return kExcludeListUnreadable;
  }
  // The spare byte ends the last line, whether or not the file did.
  m_file.back() = '\n';
  size_t lineStart = 0;
  for (size_t i = 0; i < m_file.size(); ++i) {
    if (m_file[i] != '\n') continue;
    m_file[i] = '\0';
    if (i > lineStart && m_file[i - 1] == '\r') m_file[i - 1] = '\0';
    Regexp::Pattern pattern = m_regexp.compileRegex(&m_file[lineStart]);
    // An empty line, or one that is only TABs, is no pattern.
    if (pattern) m_patterns.push_back(std::move(pattern));
    lineStart = i + 1;
  }
  return kExcludeListRead;
}

int ExclusionList::parseQuery(const char* query) {
  m_words.clear();
  m_query = query != nullptr ? query : "";
  char* p = m_query.data();
  while (*p != '\0') {
    while (*p == ' ')
      ++p;
    if (*p == '\0') break;
    char* word = p;
    while (*p != '\0' && *p != ' ')
      ++p;
    if (*p != '\0') *p++ = '\0';
    if (strcasecmp(word, "and") != 0 && strcasecmp(word, "or") != 0 &&
        strcasecmp(word, "not") != 0) {
      m_words.push_back(word);
    }
  }
  return 0;
}

bool ExclusionList::isQueryAllowed(const char* query) {
  parseQuery(query);
  for (const char* word : m_words) {
    if (m_regexp.matchQuery(word, m_patterns)) return false;
  }
  return true;
}

void ExclusionList::clearExcludeFile() {
  m_patterns.clear();
  m_file.clear();
  m_file.shrink_to_fit();
}
