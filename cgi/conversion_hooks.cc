/// @file conversion_hooks.cc
/// @brief The installed text conversions of the request front.

#include "cgi/conversion_hooks.h"

namespace {

CharsetConverterFn g_local_page_converter = nullptr;
KanaWidenerFn g_kana_widener = nullptr;

}  // namespace

void setLocalPageConverter(CharsetConverterFn fn) {
  g_local_page_converter = fn;
}
CharsetConverterFn localPageConverter() {
  return g_local_page_converter;
}

void setHalfWidthKanaWidener(KanaWidenerFn fn) {
  g_kana_widener = fn;
}
KanaWidenerFn halfWidthKanaWidener() {
  return g_kana_widener;
}

void resetCgiRunState() {
  g_local_page_converter = nullptr;
  g_kana_widener = nullptr;
}

const char* localCodePageName(int language) {
  switch (language) {
    case 0:
      return "BIG5";
    case 1:
      return "SJIS";
    case 2:
      return "GBK";
    case 3:
      return "UTF-8";
    default:
      return nullptr;
  }
}
