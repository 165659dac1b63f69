/// @file file_identity.h
/// @brief The identity of a file or folder (its device and inode) as an
/// index records it, so that a reader can tell the very file the index
/// builder read from another one put under its name later: a copy with the
/// same size and time, a hard link, or a folder swapped for a link.
///
/// An identity is 16 bytes: the device and the inode, each a 64-bit integer
/// in host byte order. Per index directory
/// (index_format.h): the identity of the source folder, and of the document
/// of each record.
/// Indexes built before these files existed lack them; an entry of zeros
/// stands for a record whose identity is not known (it was carried over from
/// such an index).

#ifndef SEARCHRUN_SYSTEM_FILE_IDENTITY_H
#define SEARCHRUN_SYSTEM_FILE_IDENTITY_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "system/index_format.h"

constexpr size_t kFileIdentityBytes = 16;

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  // No file system gives a file inode 0: zeros are "not recorded".
  bool known() const { return inode != 0; }
  bool operator==(const FileIdentity& o) const { return device == o.device && inode == o.inode; }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

FileIdentity identityOf(const struct stat& st);

// Appends the 16 bytes of `id`.
void appendFileIdentity(std::string& out, const FileIdentity& id);

// The identity held in exactly 16 bytes; false for any other length.
bool readFileIdentity(std::string_view bytes, FileIdentity& id);

#endif  // SEARCHRUN_SYSTEM_FILE_IDENTITY_H
