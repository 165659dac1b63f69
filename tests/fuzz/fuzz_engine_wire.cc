/// @file fuzz_engine_wire.cc
/// @brief The engine service's request and answer readers on arbitrary
/// bytes: they never read past what they were given, never wait for more
/// than the size limit allows, and what they accept reads back the same once
/// written again, and so do the arguments of a page request.

#include <string>
#include <string_view>
#include <vector>

#include "search/engine_wire.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vela::ToolRequest request;
  size_t used = 0;
  const vela::Decoded r = vela::decodeRequest(bytes, request, used);
  fuzzscratch::check(r != vela::Decoded::kNeedMore || size < vela::kMaxRequestBytes);
  if (r == vela::Decoded::kDone) {
    fuzzscratch::check(used <= size && used <= vela::kMaxRequestBytes);
    std::string again;
    fuzzscratch::check(vela::encodeRequest(request, again));
    fuzzscratch::check(again == bytes.substr(0, used));
    // A page request's arguments that split read back the same once joined.
    std::vector<std::string> env, words;
    if (vela::splitPageArguments(request.args, env, words))
      fuzzscratch::check(vela::pageArguments(env, words) == request.args);
  }
  vela::ToolAnswer answer;
  const vela::Decoded a = vela::decodeAnswer(bytes, answer, used);
  fuzzscratch::check(a != vela::Decoded::kNeedMore || size < vela::kMaxFilesAnswerBytes);
  if (a == vela::Decoded::kDone) {
    std::string again;
    fuzzscratch::check(vela::encodeAnswer(answer, again, bytes.substr(0, 4) == "VLA2"));
    fuzzscratch::check(again == bytes.substr(0, used));
  }
  return 0;
}
