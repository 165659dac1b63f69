/// @file fuzz_msg_table.cc
/// @brief Arbitrary bytes through the message table reader, and the texts it
/// yields filled into a page.

#include <cstdio>

#include "output/html_makeup.h"
#include "output/msg_table.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty buffer
  std::string bytes(reinterpret_cast<const char*>(data), size);
  FILE* stream = fmemopen(bytes.data(), bytes.size(), "r");
  if (stream == nullptr) return 0;
  KestraneMsgTable table;
  table.initialize(stream);
  fclose(stream);
  char message[KestraneMsgTable::kMessageBufferSize];
  for (const char* no : {"0001", "2006", "1234567", ""}) {
    if (table.getMessage(no, message) == nullptr) continue;
    TSHtmlMakeup page;
    page.appendData("<p>$$MESSAGE$$</p>");
    page.replaceTag("$$MESSAGE$$", message, OP_ENCODE | OP_FORMAT_NUMBER | OP_ENTER_TO_BR);
    page.replaceTag("$$CGI_NAME$$", message);
  }
  return 0;
}
