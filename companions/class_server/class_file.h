/// @file class_file.h
/// @brief The class file of a running class server: read again whenever it
/// changes, so that an administrator's edit needs no restart.

#ifndef SEARCHRUN_COMPANIONS_CLASS_SERVER_CLASS_FILE_H
#define SEARCHRUN_COMPANIONS_CLASS_SERVER_CLASS_FILE_H

#include <sys/types.h>

#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "companions/class_server/class_book.h"

namespace classserver {

class ClassFile {
 public:
  // `log` gets one line per problem of a reading and one per change seen.
  ClassFile(std::string path, std::string thisHost, std::function<void(const std::string&)> log);

  // The classes as the file holds them now: read again when its identity,
  // size or modification time changed since the last reading. A missing or
  // unreadable file holds no class. Safe to call from any thread.
  std::shared_ptr<const ClassBook> current();

 private:
  struct Stamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    bool operator==(const Stamp& o) const;
  };
  Stamp stampNow() const;

  const std::string path_;
  const std::string thisHost_;
  const std::function<void(const std::string&)> log_;
  std::mutex mutex_;
  Stamp stamp_;
  bool read_ = false;
  std::shared_ptr<const ClassBook> book_;
};

}  // namespace classserver

#endif  // SEARCHRUN_COMPANIONS_CLASS_SERVER_CLASS_FILE_H
