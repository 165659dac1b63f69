/// @file suggest_keys_format.cc
/// @brief The bytes of the look-alike key file and the look-up over them.

#include <algorithm>
#include <cstring>
#include <map>
#include <tuple>

#include "companions/engine/suggest_keys.h"

namespace vela {

namespace {

constexpr char kMagic[8] = {'V', 'S', 'U', 'G', 'K', 'E', 'Y', '1'};
constexpr uint32_t kByteOrderMark = 0x01020304;
constexpr size_t kChecksumAt = 24;
constexpr size_t kHeaderBytes = 48;
constexpr size_t kGroupBytes = 20;
constexpr size_t kWordBytes = 8;

template <typename T>
void put(std::string& out, T value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T>
T get(std::string_view bytes, size_t at) {
  T value;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

uint64_t mix(uint64_t h, uint64_t word) {
  h = (h ^ word) * 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 29);
}

// Four lanes of 8-byte steps, 32 bytes a round, so that a large file is
// summed at the speed it is read; a short last round is filled with zeros.
uint64_t checksumOf(std::string_view bytes) {
  uint64_t lanes[4] = {0x5355474B45595321ull ^ bytes.size(), 1, 2, 3};
  for (size_t at = 0; at < bytes.size(); at += 32) {
    uint64_t words[4] = {};
    if (bytes.size() - at >= 32) {
      std::memcpy(words, bytes.data() + at, 32);
    } else {
      std::memcpy(words, bytes.data() + at, bytes.size() - at);
    }
    // The checksum field itself counts as zeros.
    if (at == 0) words[kChecksumAt / 8] = 0;
    for (int k = 0; k < 4; ++k)
      lanes[k] = mix(lanes[k], words[k]);
  }
  return mix(mix(mix(lanes[0], lanes[1]), lanes[2]), lanes[3]);
}

// The bit of a character in a word's mask. Each character of one word that
// the other lacks (the bits tell some of them) costs an edit of its own.
uint64_t maskBit(char32_t c) {
  return uint64_t{1} << ((static_cast<uint32_t>(c) * 0x9E3779B1u) >> 26);
}

uint64_t maskOf(const char32_t* cps, size_t n) {
  uint64_t m = 0;
  for (size_t i = 0; i < n; ++i)
    m |= maskBit(cps[i]);
  return m;
}

// Edits between a and b as the engine counts them (insertions, deletions,
// substitutions, swaps of neighbours, each character edited once at most),
// or more than `bound` once they must exceed it: every way through the table
// crosses one of any two neighbouring rows, and never gets cheaper. For a
// word too long for wordEdits.
size_t boundedEdits(const std::u32string& a, const char32_t* b, size_t bn, size_t bound,
                    std::vector<size_t> (&rows)[3]) {
  for (auto& r : rows)
    r.resize(bn + 1);
  std::vector<size_t>*before = &rows[0], *last = &rows[1], *row = &rows[2];
  for (size_t j = 0; j <= bn; ++j)
    (*last)[j] = j;
  size_t lastMin = 0;
  for (size_t i = 1; i <= a.size(); ++i) {
    (*row)[0] = i;
    size_t rowMin = i;
    for (size_t j = 1; j <= bn; ++j) {
      size_t v = std::min(
          {(*last)[j] + 1, (*row)[j - 1] + 1, (*last)[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        v = std::min(v, (*before)[j - 2] + 1);
      (*row)[j] = v;
      rowMin = std::min(rowMin, v);
    }
    if (rowMin > bound && lastMin > bound) return bound + 1;
    lastMin = rowMin;
    std::swap(before, last);
    std::swap(last, row);
  }
  return (*last)[bn];
}

// The positions of each character in a word of at most 64 characters, as
// bits, for the edit count below.
class Positions {
 public:
  explicit Positions(const std::u32string& word) {
    for (size_t i = 0; i < word.size(); ++i) {
      const uint64_t bit = uint64_t{1} << i;
      if (word[i] < 128) {
        ascii_[word[i]] |= bit;
        continue;
      }
      auto it = std::find_if(other_.begin(), other_.end(),
                             [&](const auto& p) { return p.first == word[i]; });
      if (it == other_.end()) {
        other_.emplace_back(word[i], bit);
      } else {
        it->second |= bit;
      }
    }
  }
  uint64_t of(char32_t c) const {
    if (c < 128) return ascii_[c];
    for (const auto& [cp, bits] : other_)
      if (cp == c) return bits;
    return 0;
  }

 private:
  uint64_t ascii_[128] = {};
  std::vector<std::pair<char32_t, uint64_t>> other_;
};

// The same count as boundedEdits for a word of 1 to 64 characters, a column
// of the table at a time in the bits of a few machine words (the
// bit-parallel form of the table, with its rule for swaps of neighbours).
size_t wordEdits(const Positions& a, size_t an, const char32_t* b, size_t bn) {
  uint64_t vp = ~uint64_t{0}, vn = 0, d0 = 0, before = 0;
  const uint64_t last = uint64_t{1} << (an - 1);
  size_t edits = an;
  for (size_t j = 0; j < bn; ++j) {
    const uint64_t pm = a.of(b[j]);
    const uint64_t swapped = ((~d0 & pm) << 1) & before;
    d0 = (((pm & vp) + vp) ^ vp) | pm | vn | swapped;
    uint64_t hp = vn | ~(d0 | vp);
    uint64_t hn = d0 & vp;
    if (hp & last) ++edits;
    if (hn & last) --edits;
    hp = (hp << 1) | 1;
    hn <<= 1;
    vp = hn | ~(d0 | hp);
    vn = hp & d0;
    before = pm;
  }
  return edits;
}

}  // namespace

std::string encodeSuggestKeys(const std::string& uuid, uint64_t revision,
                              const std::vector<KeyTerm>& terms) {
  if (uuid.size() > kMaxUuidBytes) return "";
  // Groups in (first character, length) order, their words in the order given.
  std::map<std::pair<uint32_t, uint32_t>, std::vector<const KeyTerm*>> groups;
  uint64_t codePoints = 0, termBytes = 0;
  for (const KeyTerm& t : terms) {
    if (t.codePoints.empty()) continue;
    groups[{static_cast<uint32_t>(t.codePoints[0]), static_cast<uint32_t>(t.codePoints.size())}]
        .push_back(&t);
    codePoints += t.codePoints.size();
    termBytes += t.bytes.size();
    if (t.codePoints.size() > UINT32_MAX) return "";
  }
  const uint64_t total = kHeaderBytes + uuid.size() + kGroupBytes * groups.size() +
                         kWordBytes * terms.size() + 4 * codePoints + termBytes;
  if (terms.size() > UINT32_MAX || codePoints > UINT32_MAX || termBytes > UINT32_MAX ||
      total > kMaxSuggestKeysBytes)
    return "";
  std::string out(kMagic, sizeof kMagic);
  put<uint32_t>(out, kByteOrderMark);
  put<uint32_t>(out, static_cast<uint32_t>(uuid.size()));
  put<uint64_t>(out, revision);
  put<uint64_t>(out, 0);
  put<uint32_t>(out, static_cast<uint32_t>(groups.size()));
  uint32_t words = 0;
  for (const auto& g : groups)
    words += static_cast<uint32_t>(g.second.size());
  put<uint32_t>(out, words);
  put<uint32_t>(out, static_cast<uint32_t>(codePoints));
  put<uint32_t>(out, static_cast<uint32_t>(termBytes));
  out += uuid;
  uint32_t word = 0, cp = 0;
  for (const auto& [key, members] : groups) {
    for (uint32_t v : {key.first, key.second, word, static_cast<uint32_t>(members.size()), cp})
      put<uint32_t>(out, v);
    word += static_cast<uint32_t>(members.size());
    cp += static_cast<uint32_t>(members.size()) * key.second;
  }
  uint32_t offset = 0;
  for (const auto& g : groups)
    for (const KeyTerm* t : g.second) {
      put<uint32_t>(out, offset);
      put<uint32_t>(out, static_cast<uint32_t>(t->bytes.size()));
      offset += static_cast<uint32_t>(t->bytes.size());
    }
  for (const auto& g : groups)
    for (const KeyTerm* t : g.second)
      for (char32_t c : t->codePoints)
        put<uint32_t>(out, static_cast<uint32_t>(c));
  for (const auto& g : groups)
    for (const KeyTerm* t : g.second)
      out += t->bytes;
  sealSuggestKeys(out);
  return out;
}

void sealSuggestKeys(std::string& bytes) {
  if (bytes.size() < kHeaderBytes) return;
  const uint64_t sum = checksumOf(bytes);
  std::memcpy(&bytes[kChecksumAt], &sum, sizeof sum);
}

std::optional<SuggestKeys> SuggestKeys::parse(std::string_view bytes) {
  if (bytes.size() < kHeaderBytes || bytes.compare(0, sizeof kMagic, kMagic, sizeof kMagic) != 0 ||
      get<uint32_t>(bytes, 8) != kByteOrderMark)
    return std::nullopt;
  const uint64_t uuidBytes = get<uint32_t>(bytes, 12);
  const uint64_t groups = get<uint32_t>(bytes, 32), words = get<uint32_t>(bytes, 36),
                 codePoints = get<uint32_t>(bytes, 40), termBytes = get<uint32_t>(bytes, 44);
  if (uuidBytes > kMaxUuidBytes) return std::nullopt;
  const uint64_t groupsAt = kHeaderBytes + uuidBytes;
  const uint64_t wordsAt = groupsAt + kGroupBytes * groups;
  const uint64_t codePointsAt = wordsAt + kWordBytes * words;
  const uint64_t termsAt = codePointsAt + 4 * codePoints;
  if (termsAt + termBytes != bytes.size() || get<uint64_t>(bytes, kChecksumAt) != checksumOf(bytes))
    return std::nullopt;
  SuggestKeys k;
  k.uuid_.assign(bytes.substr(kHeaderBytes, uuidBytes));
  k.revision_ = get<uint64_t>(bytes, 16);
  k.codePoints_.resize(codePoints);
  static_assert(sizeof(char32_t) == 4);
  if (codePoints > 0)
    std::memcpy(k.codePoints_.data(), bytes.data() + codePointsAt, 4 * codePoints);
  k.bytes_.assign(bytes.substr(termsAt));
  // Groups follow each other in order and cover the words and code points
  // exactly; every word of a group begins with its character.
  uint64_t word = 0, cp = 0;
  for (size_t i = 0; i < groups; ++i) {
    const size_t at = groupsAt + kGroupBytes * i;
    Group g{get<uint32_t>(bytes, at), get<uint32_t>(bytes, at + 4), get<uint32_t>(bytes, at + 8),
            get<uint32_t>(bytes, at + 12), get<uint32_t>(bytes, at + 16)};
    if (g.length == 0 || g.words == 0 || g.firstWord != word || g.firstCodePoint != cp ||
        (!k.groups_.empty() &&
         std::tie(k.groups_.back().first, k.groups_.back().length) >= std::tie(g.first, g.length)))
      return std::nullopt;
    word += g.words;
    cp += uint64_t{g.words} * g.length;
    if (word > words || cp > codePoints) return std::nullopt;
    for (uint64_t w = 0; w < g.words; ++w)
      if (k.codePoints_[g.firstCodePoint + w * g.length] != g.first) return std::nullopt;
    k.groups_.push_back(g);
  }
  if (word != words || cp != codePoints) return std::nullopt;
  k.terms_.resize(words);
  static_assert(sizeof(Term) == kWordBytes);
  if (words > 0) std::memcpy(k.terms_.data(), bytes.data() + wordsAt, kWordBytes * words);
  for (const Term& t : k.terms_)
    if (t.length == 0 || uint64_t{t.offset} + t.length > termBytes) return std::nullopt;
  k.masks_.reserve(words);
  for (const Group& g : k.groups_)
    for (uint32_t w = 0; w < g.words; ++w)
      k.masks_.push_back(maskOf(&k.codePoints_[g.firstCodePoint + size_t{w} * g.length], g.length));
  return k;
}

std::vector<LookAlike> SuggestKeys::lookAlikes(const std::u32string& word, int percent) const {
  std::vector<LookAlike> found;
  if (word.empty()) return found;
  // The same sums as the pass over the terms, so that a term on the edge of
  // the rule falls on the same side of it.
  const double allowed = 1.0 - percent / 100.0;
  const uint32_t first = static_cast<uint32_t>(word[0]);
  const uint64_t wordMask = maskOf(word.data(), word.size());
  auto from = std::lower_bound(groups_.begin(), groups_.end(), first,
                               [](const Group& g, uint32_t c) { return g.first < c; });
  std::vector<size_t> rows[3];
  std::optional<Positions> positions;
  if (word.size() <= 64) positions.emplace(word);
  std::vector<std::pair<double, uint32_t>> hits;  // likeness, word
  for (auto g = from; g != groups_.end() && g->first == first; ++g) {
    const size_t longest = std::max<size_t>(g->length, word.size());
    const size_t gap = g->length > word.size() ? g->length - word.size() : word.size() - g->length;
    if (static_cast<double>(gap) > allowed * static_cast<double>(longest) + 1e-9) continue;
    // The most edits that keep a term of this length similar enough.
    size_t most = 0;
    while (most < longest &&
           (1.0 - static_cast<double>(most + 1) / static_cast<double>(longest)) * 100.0 + 1e-9 >=
               percent)
      ++most;
    if ((1.0 - 0.0 / static_cast<double>(longest)) * 100.0 + 1e-9 < percent) continue;
    for (uint32_t w = 0; w < g->words; ++w) {
      const size_t index = size_t{g->firstWord} + w;
      const uint64_t m = masks_[index];
      const size_t lacking =
          std::max(__builtin_popcountll(wordMask & ~m), __builtin_popcountll(m & ~wordMask));
      if (lacking > most) continue;
      const char32_t* cps = &codePoints_[g->firstCodePoint + size_t{w} * g->length];
      const size_t edits = positions ? wordEdits(*positions, word.size(), cps, g->length)
                                     : boundedEdits(word, cps, g->length, most, rows);
      if (edits > most) continue;
      const double e = static_cast<double>(edits);
      const double sim = 1.0 - e / static_cast<double>(longest);
      if (sim * 100.0 + 1e-9 < percent) continue;
      hits.emplace_back(std::max(0.1, 1.0 - e / static_cast<double>(word.size())),
                        static_cast<uint32_t>(index));
    }
  }
  found.reserve(hits.size());
  for (const auto& [likeness, index] : hits)
    found.emplace_back(likeness, bytes_.substr(terms_[index].offset, terms_[index].length));
  std::sort(found.begin(), found.end(), [](const LookAlike& a, const LookAlike& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
  });
  return found;
}

}  // namespace vela
