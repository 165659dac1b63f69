/// @file extract_record.cc
/// @brief The length-framed record of one document: writing and checked reading.

#include "companions/extract/extract_record.h"

#include <utility>

namespace extract {

namespace {

struct FieldSlot {
  const char* name;
  std::string ExtractedDoc::*member;
};

// In the order they are written; "format" first.
constexpr FieldSlot kFields[] = {
    {"format", &ExtractedDoc::format},     {"title", &ExtractedDoc::title},
    {"subject", &ExtractedDoc::subject},   {"author", &ExtractedDoc::author},
    {"keywords", &ExtractedDoc::keywords}, {"comment", &ExtractedDoc::comment},
    {"company", &ExtractedDoc::company},   {"date", &ExtractedDoc::date},
    {"note", &ExtractedDoc::note},         {"text", &ExtractedDoc::text},
};
constexpr size_t kFieldCount = sizeof(kFields) / sizeof(kFields[0]);
constexpr std::string_view kMagic = "SRX1\n";
constexpr std::string_view kEnd = "end\n";
constexpr size_t kMaxNameLength = 16;
constexpr size_t kMaxCountDigits = 10;

void appendField(std::string& out, const char* name, const std::string& value) {
  out += name;
  out += ' ';
  out += std::to_string(value.size());
  out += '\n';
  out += value;
  out += '\n';
}

// Reads "<digits>\n" at `pos`; the count must fit what is left.
bool readCount(std::string_view bytes, size_t& pos, size_t& count) {
  const size_t start = pos;
  count = 0;
  while (pos < bytes.size() && bytes[pos] >= '0' && bytes[pos] <= '9') {
    if (pos - start >= kMaxCountDigits) return false;
    count = count * 10 + static_cast<size_t>(bytes[pos] - '0');
    ++pos;
  }
  const size_t digits = pos - start;
  if (digits == 0 || (digits > 1 && bytes[start] == '0')) return false;
  if (pos >= bytes.size() || bytes[pos] != '\n') return false;
  ++pos;
  return count <= bytes.size() - pos;
}

}  // namespace

std::string encodeRecord(const ExtractedDoc& doc) {
  std::string out(kMagic);
  appendField(out, "format", doc.format);
  for (size_t i = 1; i < kFieldCount; ++i) {
    const std::string& value = doc.*kFields[i].member;
    if (!value.empty()) appendField(out, kFields[i].name, value);
  }
  out += kEnd;
  return out;
}

bool decodeRecord(std::string_view bytes, ExtractedDoc& doc, std::string& error) {
  doc = ExtractedDoc();
  if (bytes.substr(0, kMagic.size()) != kMagic) return error = "no record header", false;
  size_t pos = kMagic.size();
  bool seen[kFieldCount] = {};
  for (;;) {
    if (bytes.substr(pos) == kEnd) break;
    const size_t nameStart = pos;
    while (pos < bytes.size() && bytes[pos] >= 'a' && bytes[pos] <= 'z' &&
           pos - nameStart <= kMaxNameLength)
      ++pos;
    const std::string_view name = bytes.substr(nameStart, pos - nameStart);
    if (name.empty() || name.size() > kMaxNameLength || pos >= bytes.size() || bytes[pos] != ' ')
      return error = "bad field name", false;
    ++pos;
    size_t count = 0;
    if (!readCount(bytes, pos, count))
      return error = "bad length of field " + std::string(name), false;
    if (bytes.size() - pos < count + 1 || bytes[pos + count] != '\n')
      return error = "field " + std::string(name) + " not ended", false;
    const std::string_view value = bytes.substr(pos, count);
    pos += count + 1;
    size_t slot = 0;
    while (slot < kFieldCount && name != kFields[slot].name)
      ++slot;
    if (slot == kFieldCount) {
      if (!seen[0]) return error = "no format field first", false;
      continue;  // a field of a later writer
    }
    if (seen[slot]) return error = "field " + std::string(name) + " repeated", false;
    if (slot == 0 ? nameStart != kMagic.size() : !seen[0])
      return error = "no format field first", false;
    seen[slot] = true;
    doc.*kFields[slot].member = std::string(value);
  }
  if (!seen[0] || doc.format.empty()) return error = "no format", false;
  return true;
}

}  // namespace extract
