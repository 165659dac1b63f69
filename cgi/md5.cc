/// @file md5.cc
/// @brief MD5 (RFC 1321): four rounds of sixteen steps over 64-byte blocks.

#include "cgi/md5.h"

#include <algorithm>
#include <cstring>

namespace {

// Per-step shift amounts, round by round.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// The sine-derived additive constants T[1..64].
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

uint32_t rotateLeft(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

// Words are read byte by byte so the digest is the same on any host order.
uint32_t loadLittleEndian(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void storeLittleEndian(uint32_t v, uint8_t* p) {
  for (int i = 0; i < 4; ++i)
    p[i] = uint8_t(v >> (8 * i));
}

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, buffer_{} {}

void Md5::transform(const uint8_t block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i)
    x[i] = loadLittleEndian(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    uint32_t f;
    int k;
    switch (round) {
      case 0:
        f = (b & c) | (~b & d);
        k = i;
        break;
      case 1:
        f = (b & d) | (c & ~d);
        k = (5 * i + 1) % 16;
        break;
      case 2:
        f = b ^ c ^ d;
        k = (3 * i + 5) % 16;
        break;
      default:
        f = c ^ (b | ~d);
        k = (7 * i) % 16;
        break;
    }
    const uint32_t next = b + rotateLeft(a + f + kSine[i] + x[k], kShift[round][i % 4]);
    a = d;
    d = c;
    c = b;
    b = next;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5::update(const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  bit_count_ += uint64_t(length) * 8;
  while (length > 0) {
    const size_t take = std::min(length, sizeof buffer_ - buffered_);
    std::memcpy(buffer_ + buffered_, p, take);
    buffered_ += take;
    p += take;
    length -= take;
    if (buffered_ == sizeof buffer_) {
      transform(buffer_);
      buffered_ = 0;
    }
  }
}

Md5Digest Md5::finish() {
  const uint64_t bits = bit_count_;
  // Pad with 0x80 and zeros to 56 mod 64, then append the bit length.
  static const uint8_t kPadding[64] = {0x80};
  const size_t pad = buffered_ < 56 ? 56 - buffered_ : 120 - buffered_;
  update(kPadding, pad);
  uint8_t length_bytes[8];
  for (int i = 0; i < 8; ++i)
    length_bytes[i] = uint8_t(bits >> (8 * i));
  update(length_bytes, sizeof length_bytes);
  Md5Digest digest;
  for (int i = 0; i < 4; ++i)
    storeLittleEndian(state_[i], digest.data() + 4 * i);
  return digest;
}

Md5Digest md5Digest(const void* data, size_t length) {
  Md5 md5;
  md5.update(data, length);
  return md5.finish();
}

std::string md5Hex(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (uint8_t byte : md5Digest(text.data(), text.size())) {
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  }
  return out;
}
