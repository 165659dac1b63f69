/// @file file_identity.cc
/// @brief The recorded form of a file's device and inode.

#include "system/file_identity.h"

#include <cstring>

FileIdentity identityOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

void appendFileIdentity(std::string& out, const FileIdentity& id) {
  char bytes[kFileIdentityBytes];
  std::memcpy(bytes, &id.device, 8);
  std::memcpy(bytes + 8, &id.inode, 8);
  out.append(bytes, sizeof bytes);
}

bool readFileIdentity(std::string_view bytes, FileIdentity& id) {
  if (bytes.size() != kFileIdentityBytes) return false;
  std::memcpy(&id.device, bytes.data(), 8);
  std::memcpy(&id.inode, bytes.data() + 8, 8);
  return true;
}
