/// @file cgi_string_parser.cc
/// @brief Reading and splitting the request into CGI variables.

#include "cgi/cgi_string_parser.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cgi/cgi_codec.h"
#include "cgi/cgi_input.h"

int CGIStringParser::initialize() {
  freeMemory();
  const char* method = std::getenv("REQUEST_METHOD");
  if (method == nullptr) return kCgiNoRequestMethod;
  if (std::strcmp(method, "GET") == 0) {
    const char* query = std::getenv("QUERY_STRING");
    if (query == nullptr) return kCgiNoQueryString;
    return initialize(query);
  }
  if (std::strcmp(method, "POST") == 0) {
    const size_t length = cgiBodyLength();
    if (length == 0) return kCgiNoContentLength;
    try {
      const std::string body = readCgiBody(STDIN_FILENO, length);
      return initialize(body.data(), body.size());
    } catch (const std::bad_alloc&) {
      return kCgiNoMemory;
    }
  }
  // HEAD, PUT and the like carry no request we understand.
  return 0;
}

int CGIStringParser::initialize(const char* text) {
  return initialize(text, text == nullptr ? 0 : std::strlen(text));
}

int CGIStringParser::initialize(const char* text, size_t length) {
  freeMemory();
  try {
    return parse(cutAtZero(text, length));
  } catch (const std::bad_alloc&) {
    freeMemory();
    return kCgiNoMemory;
  }
}

int CGIStringParser::parse(std::string text) {
  backupQueryString = text;
  has_backup_ = true;
  blocks_.emplace_back();
  m_block_num = 1;
  size_t pos = 0;
  while (pos < text.size()) {
    if (m_cgi_variable_num > 0 && m_cgi_variable_num % kCgiBlockSlots == 0) {
      blocks_.emplace_back();
      ++m_block_num;
    }
    const size_t amp = text.find('&', pos);
    const size_t end = amp == std::string::npos ? text.size() : amp;
    const std::string token =
        decodeCgiToken(std::string_view(text).substr(pos, end - pos), sysLanguage);
    store(token);
    ++m_cgi_variable_num;
    pos = end + 1;
  }
  return m_cgi_variable_num;
}

void CGIStringParser::store(const std::string& token) {
  // Names and values are laid end to end, each with its terminator, rather
  // than decoded in place: a converted escape may be longer than the escape.
  Block& block = blocks_.back();
  const int slot = m_cgi_variable_num % kCgiBlockSlots;
  // A zero byte decoded from "%00" ends the token, as it ends any C string.
  const std::string whole = token.substr(0, token.find('\0'));
  const size_t equals = whole.find('=');
  block.name[slot] = parsedString.size();
  parsedString.append(whole, 0, equals);
  parsedString += '\0';
  block.value[slot] = parsedString.size();
  if (equals != std::string::npos) parsedString.append(whole, equals + 1);
  parsedString += '\0';
}

const char* CGIStringParser::slotText(int k, bool value) const {
  if (k < 0 || k >= m_cgi_variable_num) return nullptr;
  const Block& block = blocks_[size_t(k / kCgiBlockSlots)];
  const int slot = k % kCgiBlockSlots;
  return parsedString.c_str() + (value ? block.value[slot] : block.name[slot]);
}

const char* CGIStringParser::findNameByIndex(int k) const {
  return slotText(k, false);
}

const char* CGIStringParser::findValueByIndex(int k) const {
  return slotText(k, true);
}

const char* CGIStringParser::findCgiVariableByName(const char* name) const {
  if (name == nullptr) return nullptr;
  for (int k = 0; k < m_cgi_variable_num; ++k) {
    if (std::strcmp(slotText(k, false), name) == 0) return slotText(k, true);
  }
  return nullptr;
}

const char* CGIStringParser::getBackupQueryString() const {
  return has_backup_ ? backupQueryString.c_str() : nullptr;
}

void CGIStringParser::freeMemory() {
  std::vector<Block>().swap(blocks_);
  std::string().swap(parsedString);
  std::string().swap(backupQueryString);
  has_backup_ = false;
  m_cgi_variable_num = 0;
  m_block_num = 0;
}

void CGIStringParser::showAllElement() const {
  if (m_cgi_variable_num == 0) {
    std::fputs("No CGI Variables Found", stdout);
  } else {
    std::printf("m_cgi_variable_num=%d<br>", m_cgi_variable_num);
    std::printf("m_block_num=%d<br>", m_block_num);
    for (int k = 0; k < m_cgi_variable_num; ++k) {
      std::printf("%s,%s<br>", findNameByIndex(k), findValueByIndex(k));
    }
  }
  std::fflush(stdout);
}
