/// @file class_file.cc
/// @brief Reading the class file again when it changes.

#include "companions/class_server/class_file.h"

#include <sys/stat.h>

#include <utility>
#include <vector>

#include "system/secure_file.h"

namespace classserver {

ClassFile::ClassFile(std::string path, std::string thisHost,
                     std::function<void(const std::string&)> log)
    : path_(std::move(path)), thisHost_(std::move(thisHost)), log_(std::move(log)) {}

bool ClassFile::Stamp::operator==(const Stamp& o) const {
  return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
         mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
}

ClassFile::Stamp ClassFile::stampNow() const {
  Stamp s;
  struct stat st;
  if (stat(path_.c_str(), &st) != 0) return s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime = st.st_mtim;
  return s;
}

std::shared_ptr<const ClassBook> ClassFile::current() {
  std::lock_guard<std::mutex> lock(mutex_);
  const Stamp now = stampNow();
  if (read_ && now == stamp_) return book_;
  std::string text;
  std::vector<std::string> problems;
  auto book = std::make_shared<ClassBook>();
  if (!now.exists) {
    log_("no class file " + path_ + ": no class is known");
  } else if (!readRegularFile(path_, text, kMaxClassFileBytes)) {
    log_("cannot read the class file " + path_ + " (or it is larger than " +
         std::to_string(kMaxClassFileBytes) + " bytes): no class is known");
  } else {
    *book = ClassBook::parse(text, thisHost_, problems);
    for (const std::string& p : problems)
      log_(path_ + ": " + p);
    log_("read " + path_ + ": " + std::to_string(book->classes().size()) + " classes");
  }
  // A file changed while it was read is read again next time.
  stamp_ = stampNow() == now ? now : Stamp{};
  read_ = true;
  book_ = std::move(book);
  return book_;
}

}  // namespace classserver
