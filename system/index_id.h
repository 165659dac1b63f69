/// @file index_id.h
/// @brief Index id files: the short id of an index mapped to its description,
/// owner and type.
///
/// The file of id X is <system directory>/ref/X.id, 152 bytes of four
/// NUL-padded fields: id (8 bytes), description (64), owner (64), type (16).
/// Each field holds one character less than its size.

#ifndef SEARCHRUN_SYSTEM_INDEX_ID_H
#define SEARCHRUN_SYSTEM_INDEX_ID_H

#include <cstddef>
#include <string>

#include "system/recinfo.h"

class IndexIdFileMgr {
 public:
  static constexpr size_t kIdSize = 8;
  static constexpr size_t kDescSize = 64;
  static constexpr size_t kOwnerSize = 64;
  static constexpr size_t kTypeSize = 16;
  static constexpr size_t kFileSize = kIdSize + kDescSize + kOwnerSize + kTypeSize;

  IndexIdFileMgr() { clean(); }

  // Empties every field.
  void clean();

  // Loads the file of id. True when it was loaded and its stored id equals
  // id; the fields stay loaded when only the stored id differs. An id that is
  // not isSafeIndexName (address.h) is refused without touching any file.
  bool readIndexIdInfo(const char* id);
  // Loads the record of any id file. False, with the fields empty, when the
  // file cannot be opened or holds fewer than 152 bytes (a cut-short file is
  // never taken for a record); bytes after the first 152 are ignored.
  bool readIndexIdFile(const char* path);

  const char* getIndexId() const { return id_; }
  const char* getIndexDesc() const { return desc_; }
  const char* getIndexOwner() const { return owner_; }
  const char* getIndexType() const { return type_; }

  // Creates the file of a new id made from the current second (six digits)
  // with the given fields (each cut to its size); the new record is then
  // loaded and its id stored in *newId when given. Creates the "ref"
  // directory when missing. False when the system directory is unknown or
  // missing, or after 60 attempts that all failed (one second apart).
  bool buildIndexIdInfo(const char* owner, const char* type, const char* desc,
                        std::string* newId = nullptr);
  // Writes the file of a caller-chosen id with the given fields (each cut to
  // its size), replacing any file of that id whole: the record goes to a
  // scratch file beside it (mode 0660) that is then renamed over it, so a
  // failure leaves the old file. Creates the "ref" directory when missing. On
  // success the new record is loaded. False, with the fields empty, when id is
  // not isSafeIndexName (address.h), the system directory is unknown or
  // missing, or the file cannot be written.
  bool writeIndexIdInfo(const char* id, const char* owner, const char* type, const char* desc);
  // Rewrites the file of id with a new description (replacing it whole, so a
  // failure leaves the old file). True also when the description was already
  // equal; false when readIndexIdInfo(id) fails or the file cannot be written.
  bool updateIndexDesc(const char* id, const char* desc);
  // Deletes the file of id; false when readIndexIdInfo(id) fails or the file
  // cannot be deleted.
  bool delIndexIdInfo(const char* id);

  // <system directory>/ref/<id>.id, or "" when the system directory is not
  // configured.
  static std::string idFilePath(const char* id);

 private:
  void encode(unsigned char (&bytes)[kFileSize]) const;
  // Writes the loaded record over the file of id through a scratch file.
  bool replaceRecordFile(const char* id) const;
  void decode(const unsigned char (&bytes)[kFileSize]);

  char id_[kIdSize];
  char desc_[kDescSize];
  char owner_[kOwnerSize];
  char type_[kTypeSize];
};

// The id the clock gives for second t: n = t + (t mod 1000) * 1000, the first
// six digits of n mod 100000000 printed with at least seven digits, reversed.
std::string makeIndexIdForTime(long long t);

#endif  // SEARCHRUN_SYSTEM_INDEX_ID_H
