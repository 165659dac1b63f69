/// @file fuzz_cookie.cc
/// @brief Cookie headers and request arguments through the cookie service.

#include <vector>

#include "cgi/cgi_input.h"
#include "cgi/cgi_service.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = cutAtZero(reinterpret_cast<const char*>(data), size);
  MyService service(text.c_str());
  fuzzscratch::check(service.cookieValue("ks_key") == nullptr || service.cookies().size() > 0);
  // The same text as a query string, split at "&".
  setenv("QUERY_STRING", text.c_str(), 1);
  service.doGet();
  (void)service.argumentValue("user");
  // In-place decoding of raw bytes, zero bytes included.
  std::vector<char> buffer(data, data + size);
  service.URLDecode(buffer.data(), buffer.size());
  return 0;
}
