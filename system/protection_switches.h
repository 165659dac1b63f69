/// @file protection_switches.h
/// @brief The protection switches of an index home: "doc_ntfs.cfg" (the
/// documents' own access lists) and "acl_builder_option.cfg" (the builder's
/// access lists). A switch that is there but cannot be read keeps its index
/// protected: the filter then finds no rights and shows nothing.

#ifndef SEARCHRUN_SYSTEM_PROTECTION_SWITCHES_H
#define SEARCHRUN_SYSTEM_PROTECTION_SWITCHES_H

#include <string>

// True when the file access lists of the index at `home` (its org home)
// decide who sees a record.
bool homeHasFileAcl(const std::string& home);

// True when the builder's access lists of the index at `home` do.
bool homeHasBuilderAcl(const std::string& home);

// Either: some records of the index may be hidden from some users.
inline bool homeIsProtected(const std::string& home) {
  return homeHasFileAcl(home) || homeHasBuilderAcl(home);
}

#endif  // SEARCHRUN_SYSTEM_PROTECTION_SWITCHES_H
