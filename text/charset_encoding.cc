/// @file charset_encoding.cc
/// @brief The converter call of the request front.

#include "text/charset_encoding.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "system/log.h"
#include "text/charset_converter.h"

int g_char_encoding_convertor_err_code = 0;

namespace {

constexpr const char* kDefaultTableDirectory = "../binind/unitbl";

std::string& tableDirectory() {
  static std::string dir = kDefaultTableDirectory;
  return dir;
}

const char* shown(const char* text) {
  return text != nullptr ? text : "(null)";
}

const char* resultName(int result) {
  switch (result) {
    case kEncodingSuccess:
      return "SUCCESS_CONVERT_ENCODING";
    case kEncodingNotSupported:
      return "ERROR_NOT_SUPPORT_ENCODING_TYPE";
    case kEncodingStaticInitOpen:
      return "ERROR_STATIC_INIT_OPEN";
    case kEncodingInitOpen:
      return "ERROR_INIT_OPEN";
    case kEncodingAllocate:
      return "ERROR_ALLOCATE_MEMORY";
    case kEncodingConvertFail:
      return "ERROR_CONVERT_FAIL";
    default:
      return "ERROR_DEST_BUFFER_NOT_ENOUGH";
  }
}

int logged(int result) {
  ReportLog("%s(%d): charEncodingConverter : return = '%s'\n", __FILE__, __LINE__,
            resultName(result));
  return result;
}

// The code of an encoding name; 0 for a name not known (on this side).
uint32_t encodingCode(const char* name, bool as_source) {
  static const struct {
    const char* name;
    uint32_t code;
    bool source_only;
  } kNames[] = {{"UTF-8", kCharsetUtf8, false},
                {"UTF-16BE", kCharsetUtf16BE, true},
                {"BIG5", kCharsetBig5, false},
                {"GBK", kCharsetGbk, false},
                {"SJIS", kCharsetSjis, false}};
  if (name == nullptr) return 0;
  for (const auto& entry : kNames) {
    if (std::strcmp(entry.name, name) == 0 && (as_source || !entry.source_only)) return entry.code;
  }
  return 0;
}

// Runs the open converter over the whole of `src` and hands the text over.
int convertText(QNac_CharsetEncodingConverter& converter, const char* src, char* dest,
                int dest_size) {
  const size_t length = std::strlen(src);
  // Eight output bytes per input byte hold every expansion of the engine,
  // a reference for a single byte included.
  if (length > SIZE_MAX / 8) return logged(kEncodingAllocate);
  const size_t capacity = 8 * length;
  std::unique_ptr<char[]> output(new (std::nothrow) char[capacity + 1]);
  if (!output) return logged(kEncodingAllocate);
  const char* in = src;
  char* out = output.get();
  const int rc = converter.Convert(in, src + length, out, output.get() + capacity);
  if (rc != kConvertDone) {
    g_char_encoding_convertor_err_code = rc;
    return logged(kEncodingConvertFail);
  }
  const size_t converted = static_cast<size_t>(out - output.get());
  if (dest_size < 1) return logged(kEncodingDestTooSmall);
  const size_t room = static_cast<size_t>(dest_size) - 1;
  const size_t copied = converted < room ? converted : room;
  std::memcpy(dest, output.get(), copied);
  dest[copied] = '\0';
  return logged(converted <= room ? kEncodingSuccess : kEncodingDestTooSmall);
}

}  // namespace

int charEncodingConverter(const char* src, const char* src_name, char* dest, const char* dest_name,
                          int dest_size) {
  ReportLog("%s(%d): charEncodingConverter : src_data = '%s'\n", __FILE__, __LINE__, shown(src));
  ReportLog("%s(%d): charEncodingConverter : src_encoding_type = '%s'\n", __FILE__, __LINE__,
            shown(src_name));
  ReportLog("%s(%d): charEncodingConverter : data_encoding_type = '%s'\n", __FILE__, __LINE__,
            shown(dest_name));
  if (dest == nullptr || src == nullptr) return kEncodingNullArgument;

  const int init = QNac_CharsetEncodingConverter::StaticInitOpen(tableDirectory().c_str());
  if (init != 0) {
    g_char_encoding_convertor_err_code = init;
    return logged(kEncodingStaticInitOpen);
  }
  const uint32_t source = encodingCode(src_name, true);
  if (source == 0) return logged(kEncodingNotSupported);
  const uint32_t target = encodingCode(dest_name, false);
  if (target == 0) return kEncodingNotSupported;

  try {
    QNac_CharsetEncodingConverter converter;
    const int open = converter.InitOpen(source, target);
    if (open != 0) {
      g_char_encoding_convertor_err_code = open;
      return logged(kEncodingInitOpen);
    }
    return convertText(converter, src, dest, dest_size);
  } catch (const std::bad_alloc&) {
    return logged(kEncodingAllocate);
  }
}

void setCharsetTableDirectory(const std::string& dir) {
  tableDirectory() = dir;
}

const std::string& charsetTableDirectory() {
  return tableDirectory();
}

void resetCharsetEncodingState() {
  tableDirectory() = kDefaultTableDirectory;
  g_char_encoding_convertor_err_code = 0;
}
