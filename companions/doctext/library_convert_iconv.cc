/// @file library_convert_iconv.cc
/// @brief Conversion by the C library's converters, for every program but
/// the static page renderer.

#include <iconv.h>

#include <cerrno>

#include "companions/doctext/library_convert.h"
#include "companions/doctext/render_text.h"

namespace render {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Converters from the installations' code pages, opened once per thread:
// every text of every hit passes through one. These code pages keep no
// state from one text to the next; others (UTF-16 reads a byte order mark
// into its state) get a converter of their own per text.
class LocalConverters {
 public:
  ~LocalConverters() {
    for (Entry& e : entries_)
      if (e.cd != kNoConverter) iconv_close(e.cd);
  }
  // The converter for `from`, reset to its initial state; kNoConverter when
  // `from` is none of these code pages or iconv does not know it.
  iconv_t get(std::string_view from) {
    for (Entry& e : entries_) {
      if (from != e.name) continue;
      if (!e.tried) {
        e.tried = true;
        e.cd = iconv_open("UTF-8", e.name);
      }
      if (e.cd != kNoConverter) iconv(e.cd, nullptr, nullptr, nullptr, nullptr);
      return e.cd;
    }
    return kNoConverter;
  }

 private:
  struct Entry {
    const char* name;
    iconv_t cd = kNoConverter;
    bool tried = false;
  };
  Entry entries_[3] = {{"CP950"}, {"CP932"}, {"GBK"}};
};

}  // namespace

bool libraryToUtf8(std::string_view bytes, const char* from, int language, bool cutTail,
                   std::string& out) {
  thread_local LocalConverters local;
  iconv_t cd = local.get(from);
  const bool own = cd == kNoConverter;
  if (own) cd = iconv_open("UTF-8", from);
  if (cd == kNoConverter) return false;
  out.clear();
  char buf[4096];
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  while (inLeft > 0) {
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    const size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
    const int err = errno;
    out.append(buf, static_cast<size_t>(dst - buf));
    if (rc != static_cast<size_t>(-1) || err == E2BIG) continue;
    if (err == EINVAL) {  // a character cut short by the end of the text
      if (!cutTail) out += kReplacement;
      break;
    }
    const size_t skip =
        skipUnconvertible(reinterpret_cast<unsigned char*>(in), inLeft, language, out);
    in += skip;
    inLeft -= skip;
  }
  if (own) iconv_close(cd);
  return true;
}

bool hasFullRuntime() {
  return true;
}

void requireFullRuntime() {}

void setFullRuntimeHandOff(void (*)()) {}

}  // namespace render
