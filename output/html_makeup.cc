/// @file html_makeup.cc
/// @brief Template loading, tag replacement and value conversions.

#include "output/html_makeup.h"

#include <cstdio>
#include <cstring>

#include "system/secure_file.h"

namespace {

// Replaces every occurrence of `from` in text, continuing after each inserted
// `to`, so that an inserted value is never matched again. Returns the count.
size_t replaceAll(std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return 0;
  size_t count = 0;
  for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos)) {
    text.replace(pos, from.size(), to);
    pos += to.size();
    ++count;
  }
  return count;
}

bool fileNameFits(const char* path) {
  return path != nullptr && std::strlen(path) <= TSHtmlMakeup::kMaxFileName;
}

int resultOf(const std::string& out) {
  return out.empty() ? SIZE_ZERO : NORMAL_ENDING;
}

}  // namespace

const char* tSHtmlMakeupGetErrorMessage(int code) {
  switch (code) {
    case EXCEED_BUF_SIZE:
      return "EXCEED_BUF_SIZE";
    case FILE_IO_ERROR:
      return "FILE_IO_ERROR";
    case FILE_SIZE_ZERO:
      return "FILE_SIZE_ZERO";
    case NORMAL_ENDING:
      return "NORMAL_ENDING";
    case SIZE_ZERO:
      return "SIZE_ZERO";
    case NOT_FOUND_TARGET_TAG:
      return "NOT_FOUND_TARGET_TAG";
    case ENCODE_ERROR:
      return "ENCODE_ERROR";
    case FORMAT_NUMBER_ERROR:
      return "FORMAT_NUMBER_ERROR";
    case ENTER_TO_BR_ERROR:
      return "ENTER_TO_BR_ERROR";
    default:
      return "UNKNOW_ERROR";
  }
}

TSHtmlMakeup::TSHtmlMakeup() {
  m_fileName[0] = '\0';
}

int TSHtmlMakeup::appendFile(const char* path) {
  if (!fileNameFits(path)) return EXCEED_BUF_SIZE;
  std::strcpy(m_fileName, path);
  // A FIFO or device planted in place of a template must not stall a page.
  FILE* stream = fopenRegular(path);
  if (stream == nullptr) return FILE_IO_ERROR;
  std::string bytes;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, stream)) > 0)
    bytes.append(buf, n);
  bool failed = std::ferror(stream) != 0;
  std::fclose(stream);
  if (failed) return FILE_IO_ERROR;
  if (bytes.empty()) return FILE_SIZE_ZERO;
  m_data += bytes;
  return NORMAL_ENDING;
}

int TSHtmlMakeup::appendData(const char* text) {
  if (text == nullptr || text[0] == '\0') return SIZE_ZERO;
  m_data += text;
  return NORMAL_ENDING;
}

int TSHtmlMakeup::replaceTag(const char* tag, const std::string& value, int operations) {
  if (tag == nullptr || tag[0] == '\0') return SIZE_ZERO;
  std::string converted = value;
  std::string next;
  if ((operations & OP_ENCODE) != 0) {
    if (encode(converted, next) != NORMAL_ENDING) return ENCODE_ERROR;
    converted.swap(next);
  }
  if ((operations & OP_FORMAT_NUMBER) != 0) {
    if (formatNumber(converted, next) != NORMAL_ENDING) return FORMAT_NUMBER_ERROR;
    converted.swap(next);
  }
  if ((operations & OP_ENTER_TO_BR) != 0) {
    if (enterToBr(converted, next) != NORMAL_ENDING) return ENTER_TO_BR_ERROR;
    converted.swap(next);
  }
  return replaceAll(m_data, tag, converted) > 0 ? NORMAL_ENDING : NOT_FOUND_TARGET_TAG;
}

int TSHtmlMakeup::replaceTag(const char* tag, int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return replaceTag(tag, std::string(text), OP_REPLACE);
}

int TSHtmlMakeup::encode(const std::string& in, std::string& out) {
  out = in;
  // Pages have always been escaped through "#amp;"; callers rely on a
  // "#amp;" of their own coming out as "&amp;" too.
  replaceAll(out, "&", "#amp;");
  replaceAll(out, "#amp;", "&amp;");
  replaceAll(out, "<", "&lt;");
  replaceAll(out, "\"", "&quot;");
  replaceAll(out, ">", "&gt;");
  return resultOf(out);
}

int TSHtmlMakeup::formatNumber(const std::string& in, std::string& out) {
  out.clear();
  if (in.empty()) return SIZE_ZERO;
  out.reserve(in.size() + in.size() / 3);
  for (size_t i = 0; i < in.size(); ++i) {
    size_t left = in.size() - i;  // characters from here to the end
    if (i > 0 && left % 3 == 0) out.push_back(',');
    out.push_back(in[i]);
  }
  return NORMAL_ENDING;
}

int TSHtmlMakeup::enterToBr(const std::string& in, std::string& out) {
  out = in;
  replaceAll(out, "\n", "<br>");
  return resultOf(out);
}

int TSHtmlMakeup::outDataToStd() const {
  if (m_data.empty()) return SIZE_ZERO;
  std::fwrite(m_data.data(), 1, m_data.size(), stdout);
  std::fflush(stdout);
  return NORMAL_ENDING;
}

int TSHtmlMakeup::outDataToFile(const char* path) const {
  if (!fileNameFits(path)) return EXCEED_BUF_SIZE;
  // Replaced whole, never written through a link or left half written.
  return replaceFileAtomically(path, m_data, 0644) ? NORMAL_ENDING : FILE_IO_ERROR;
}

int TSHtmlMakeup::outDataToFile() const {
  if (m_fileName[0] == '\0') return FILE_IO_ERROR;
  return outDataToFile(m_fileName);
}

int TSHtmlMakeup::clear() {
  if (m_data.empty()) return SIZE_ZERO;
  m_data.clear();
  return NORMAL_ENDING;
}

const char* htmlEntityFor(char c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return "&quot;";
    case '\'':
      return "&#39;";
    default:
      return nullptr;
  }
}
