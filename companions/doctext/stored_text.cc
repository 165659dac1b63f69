/// @file stored_text.cc
/// @brief Stored texts through zlib.

#include "companions/doctext/stored_text.h"

#include <zlib.h>

#include <climits>

namespace render {

std::string compressStoredText(std::string_view text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string stream(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(stream.data()), &size,
                reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()),
                Z_DEFAULT_COMPRESSION) != Z_OK)
    return "";
  stream.resize(size);
  return stream;
}

bool inflateStoredText(std::string_view stream, size_t maxBytes, std::string& text, bool& cut) {
  text.clear();
  cut = false;
  if (stream.size() > UINT_MAX) return false;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  char chunk[16384];
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(chunk);
    z.avail_out = sizeof chunk;
    rc = inflate(&z, Z_NO_FLUSH);
    const size_t got = sizeof chunk - z.avail_out;
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    if (text.size() + got > maxBytes) {
      text.append(chunk, maxBytes - text.size());
      cut = true;
      break;
    }
    text.append(chunk, got);
  }
  inflateEnd(&z);
  if (cut) return true;
  // Bytes after the stream's end are damage too.
  if (rc != Z_STREAM_END || z.avail_in != 0) {
    text.clear();
    return false;
  }
  return true;
}

}  // namespace render
