/// @file md5.h
/// @brief MD5 message digest (RFC 1321), used to spread the keys of the CGI
/// parameter table over its buckets. Not for anything that needs security.

#ifndef SEARCHRUN_CGI_MD5_H
#define SEARCHRUN_CGI_MD5_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using Md5Digest = std::array<uint8_t, 16>;

// Incremental digest: any number of update() calls, then one finish().
// After finish() the object must not be updated again.
class Md5 {
 public:
  Md5();
  void update(const void* data, size_t length);
  Md5Digest finish();

 private:
  void transform(const uint8_t block[64]);

  uint32_t state_[4];
  uint64_t bit_count_ = 0;
  uint8_t buffer_[64];
  size_t buffered_ = 0;
};

// Digest of `length` bytes at `data` in one call.
Md5Digest md5Digest(const void* data, size_t length);

// 32 lower-case hex digits of the digest of `text`.
std::string md5Hex(std::string_view text);

#endif  // SEARCHRUN_CGI_MD5_H
