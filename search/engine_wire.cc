/// @file engine_wire.cc
/// @brief Encoding and bounded decoding of service requests and answers.

#include "search/engine_wire.h"

#include <algorithm>

namespace vela {

namespace {

constexpr std::string_view kRequestMagic = "VLQ1";
constexpr std::string_view kFilesRequestMagic = "VLQ2";
constexpr std::string_view kAnswerMagic = "VLA1";
constexpr std::string_view kFilesAnswerMagic = "VLA2";
constexpr size_t kHeaderBytes = 8;  // magic and body size

struct ToolNames {
  Tool tool;
  const char* name;
};
constexpr ToolNames kTools[] = {
    {Tool::kEngine, "vela25_0.exe"},        {Tool::kDateRange, "date_range.exe"},
    {Tool::kDigitIndex, "digit_index.exe"}, {Tool::kExpandTokens, "expand_vela_token_list.exe"},
    {Tool::kRelTerm, "search_relterm.exe"}, {Tool::kPage, "getfilelist.exe"}};

void putU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void putString(std::string& out, std::string_view s) {
  putU32(out, static_cast<uint32_t>(s.size()));
  out.append(s);
}

// Reads a body front to back; every read fails once past the end, and the
// first failure sticks.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}
  bool ok() const { return ok_; }
  bool atEnd() const { return rest_.empty(); }
  uint8_t u8() {
    if (!need(1)) return 0;
    const auto v = static_cast<uint8_t>(rest_[0]);
    rest_.remove_prefix(1);
    return v;
  }
  uint32_t u32() {
    if (!need(4)) return 0;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v |= static_cast<uint32_t>(static_cast<unsigned char>(rest_[i])) << (8 * i);
    rest_.remove_prefix(4);
    return v;
  }
  std::string string() {
    const uint32_t size = u32();
    if (!need(size)) return {};
    std::string s(rest_.substr(0, size));
    rest_.remove_prefix(size);
    return s;
  }

 private:
  bool need(size_t n) {
    if (ok_ && rest_.size() >= n) return true;
    ok_ = false;
    return false;
  }
  std::string_view rest_;
  bool ok_ = true;
};

// The body size of a header (the four bytes after the magic).
uint32_t bodySize(std::string_view header) {
  return Reader(header.substr(4, 4)).u32();
}

// The body of a framed message of either form, once it is all there;
// `second` says it is of the second form (magic `magic2`, limit `limit2`).
Decoded frame(std::string_view bytes, std::string_view magic, size_t limit, std::string_view magic2,
              size_t limit2, std::string_view& body, size_t& used, bool& second) {
  const size_t seen = bytes.size() < magic.size() ? bytes.size() : magic.size();
  const bool first = bytes.substr(0, seen) == magic.substr(0, seen);
  second = bytes.substr(0, seen) == magic2.substr(0, seen);
  if (!first && !second) return Decoded::kBad;
  if (bytes.size() < kHeaderBytes) return Decoded::kNeedMore;
  const uint64_t total = kHeaderBytes + static_cast<uint64_t>(bodySize(bytes));
  if (total > (second ? limit2 : limit)) return Decoded::kBad;
  if (bytes.size() < total) return Decoded::kNeedMore;
  body = bytes.substr(kHeaderBytes, static_cast<size_t>(total) - kHeaderBytes);
  used = static_cast<size_t>(total);
  return Decoded::kDone;
}

std::string framed(std::string_view magic, const std::string& body) {
  std::string out(magic);
  putU32(out, static_cast<uint32_t>(body.size()));
  return out + body;
}

bool hasNul(std::string_view s) {
  return s.find('\0') != std::string_view::npos;
}

void putFiles(std::string& body, const std::vector<CarriedFile>& files) {
  putU32(body, static_cast<uint32_t>(files.size()));
  for (const CarriedFile& f : files) {
    putString(body, f.path);
    putString(body, f.bytes);
  }
}

// The files at the end of a body; a path is a command line's word, so it
// is not empty and holds no NUL byte.
bool readFiles(Reader& in, std::vector<CarriedFile>& files) {
  const uint32_t count = in.u32();
  if (count > kMaxRequestArgs) return false;
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    CarriedFile f;
    f.path = in.string();
    f.bytes = in.string();
    if (f.path.empty() || hasNul(f.path)) return false;
    files.push_back(std::move(f));
  }
  return in.ok() && in.atEnd();
}

}  // namespace

const char* toolName(Tool tool) {
  for (const ToolNames& t : kTools)
    if (t.tool == tool) return t.name;
  return "";
}

bool toolFromName(std::string_view name, Tool& tool) {
  for (const ToolNames& t : kTools) {
    if (name == t.name) {
      tool = t.tool;
      return true;
    }
  }
  return false;
}

bool isPageVariable(std::string_view name) {
  for (const char* known : kPageVariables)
    if (name == known) return true;
  return false;
}

namespace {

// The name of a "NAME=value" entry; "" when it has no "=".
std::string_view entryName(std::string_view entry) {
  const size_t eq = entry.find('=');
  return eq == std::string_view::npos ? std::string_view() : entry.substr(0, eq);
}

}  // namespace

std::vector<std::string> pageArguments(const std::vector<std::string>& environment,
                                       const std::vector<std::string>& words) {
  std::vector<std::string> args;
  std::vector<std::string_view> named;
  for (const std::string& entry : environment) {
    const std::string_view name = entryName(entry);
    if (!isPageVariable(name) || std::find(named.begin(), named.end(), name) != named.end())
      continue;
    named.push_back(name);
    args.push_back(entry);
  }
  args.emplace_back("--");
  args.insert(args.end(), words.begin(), words.end());
  return args;
}

bool splitPageArguments(const std::vector<std::string>& args, std::vector<std::string>& env,
                        std::vector<std::string>& words) {
  const auto end = std::find(args.begin(), args.end(), "--");
  if (end == args.end()) return false;
  std::vector<std::string_view> named;
  for (auto it = args.begin(); it != end; ++it) {
    const std::string_view name = entryName(*it);
    if (!isPageVariable(name) || std::find(named.begin(), named.end(), name) != named.end())
      return false;
    named.push_back(name);
  }
  env.assign(args.begin(), end);
  words.assign(end + 1, args.end());
  return true;
}

bool encodeRequest(const ToolRequest& request, std::string& bytes) {
  if (*toolName(request.tool) == '\0' || request.args.size() > kMaxRequestArgs ||
      hasNul(request.cwd))
    return false;
  std::string body(1, static_cast<char>(request.tool));
  putString(body, request.cwd);
  putU32(body, static_cast<uint32_t>(request.args.size()));
  for (const std::string& a : request.args) {
    if (hasNul(a) || body.size() + a.size() > kMaxRequestBytes) return false;
    putString(body, a);
  }
  for (const CarriedFile& f : request.files) {
    if (f.path.empty() || hasNul(f.path) ||
        body.size() + f.path.size() + f.bytes.size() > kMaxRequestBytes)
      return false;
  }
  if (!request.files.empty()) putFiles(body, request.files);
  if (kHeaderBytes + body.size() > kMaxRequestBytes || request.files.size() > kMaxRequestArgs)
    return false;
  bytes = framed(request.files.empty() ? kRequestMagic : kFilesRequestMagic, body);
  return true;
}

Decoded decodeRequest(std::string_view bytes, ToolRequest& request, size_t& used) {
  std::string_view body;
  bool withFiles = false;
  const Decoded framing = frame(bytes, kRequestMagic, kMaxRequestBytes, kFilesRequestMagic,
                                kMaxRequestBytes, body, used, withFiles);
  if (framing != Decoded::kDone) return framing;
  Reader in(body);
  ToolRequest r;
  r.tool = static_cast<Tool>(in.u8());
  r.cwd = in.string();
  const uint32_t count = in.u32();
  if (!in.ok() || *toolName(r.tool) == '\0' || count > kMaxRequestArgs || hasNul(r.cwd))
    return Decoded::kBad;
  for (uint32_t i = 0; i < count && in.ok(); ++i) {
    r.args.push_back(in.string());
    if (hasNul(r.args.back())) return Decoded::kBad;
  }
  // The second form carries at least one file: the first form says no file.
  if (withFiles ? !readFiles(in, r.files) || r.files.empty() : !in.ok() || !in.atEnd())
    return Decoded::kBad;
  request = std::move(r);
  return Decoded::kDone;
}

bool encodeAnswer(const ToolAnswer& answer, std::string& bytes, bool withFiles) {
  const size_t limit = withFiles ? kMaxFilesAnswerBytes : kMaxAnswerBytes;
  uint64_t size = kHeaderBytes + 9 + answer.out.size() + answer.err.size();
  if (withFiles) {
    size += 4;
    for (const CarriedFile& f : answer.files)
      size += 8 + f.path.size() + f.bytes.size();
  }
  if (answer.status < 0 || answer.status > 255 || size > limit ||
      (!withFiles && !answer.files.empty()) || answer.files.size() > kMaxRequestArgs)
    return false;
  std::string body(1, static_cast<char>(answer.status));
  putString(body, answer.out);
  putString(body, answer.err);
  if (withFiles) putFiles(body, answer.files);
  bytes = framed(withFiles ? kFilesAnswerMagic : kAnswerMagic, body);
  return true;
}

Decoded decodeAnswer(std::string_view bytes, ToolAnswer& answer, size_t& used) {
  std::string_view body;
  bool withFiles = false;
  const Decoded framing = frame(bytes, kAnswerMagic, kMaxAnswerBytes, kFilesAnswerMagic,
                                kMaxFilesAnswerBytes, body, used, withFiles);
  if (framing != Decoded::kDone) return framing;
  Reader in(body);
  ToolAnswer a;
  a.status = in.u8();
  a.out = in.string();
  a.err = in.string();
  if (withFiles ? !readFiles(in, a.files) : !in.ok() || !in.atEnd()) return Decoded::kBad;
  answer = std::move(a);
  return Decoded::kDone;
}

}  // namespace vela
