/// @file cgi_service.cc
/// @brief Cookie and argument tables.

#include "cgi/cgi_service.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "cgi/cgi_input.h"
#include "system/strings.h"

namespace {

bool isHexDigit(char c) {
  return hexDigitValue(c) >= 0;
}

}  // namespace

CGIParameter::CGIParameter() {
  htbl_init(table_, kCgiParameterBuckets);
}

void CGIParameter::add(const char* key, const char* value) {
  if (key == nullptr || value == nullptr) return;
  // Cookies arrive as "a=1; b=2": the blank after each ";" is not part of the key.
  while (*key == ' ' || *key == '\t')
    ++key;
  keys_.emplace_back(key);
  values_.emplace_back(value);
  htbl_add(table_, keys_.back().c_str(), &values_.back()[0]);
}

const char* CGIParameter::valueOf(const char* key) const {
  return static_cast<const char*>(htbl_find(table_, key));
}

CGIService::CGIService() : CGIService(std::getenv("HTTP_COOKIE")) {}

CGIService::CGIService(const char* cookie_header) {
  if (cookie_header == nullptr) return;
  cookie_text_ = cookie_header;
  has_cookie_ = true;
  scanPairs(cookie_text_, ';', cookies_);
}

CGIService::~CGIService() = default;

void CGIService::URLDecode(char* text, size_t length) {
  if (text == nullptr || length == 0) return;
  size_t read = 0, write = 0;
  while (read < length) {
    const char c = text[read];
    if (c == '+') {
      text[write++] = ' ';
      ++read;
    } else if (c == '%' && read + 2 < length && isHexDigit(text[read + 1]) &&
               isHexDigit(text[read + 2])) {
      text[write++] = char(hexDigitValue(text[read + 1]) * 16 + hexDigitValue(text[read + 2]));
      read += 3;
    } else {
      text[write++] = c;
      ++read;
    }
  }
  std::memset(text + write, 0, length - write);
}

void CGIService::scanPairs(std::string text, char separator, CGIParameter& table) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(separator, pos);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(pos, end - pos);
    const size_t first = pair.find('=');
    if (first != std::string::npos) {
      std::string value = pair.substr(pair.rfind('=') + 1);
      URLDecode(&value[0], value.size());
      table.add(pair.substr(0, first).c_str(), value.c_str());
    }
    pos = end + 1;
  }
}

void CGIService::readArguments(std::string text) {
  argument_text_ = std::move(text);
  has_arguments_ = true;
  scanPairs(argument_text_, '&', arguments_);
  service(cookies_, arguments_);
}

void CGIService::doGet() {
  const char* query = std::getenv("QUERY_STRING");
  readArguments(query == nullptr ? std::string() : std::string(query));
}

void CGIService::doPost() {
  const size_t length = cgiBodyLength();
  const std::string body = length > 0 ? readCgiBody(STDIN_FILENO, length) : std::string();
  readArguments(cutAtZero(body.data(), body.size()));
}
