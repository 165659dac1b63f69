/// @file index_builder.h
/// @brief The index builder's operations: create an index from a folder of
/// documents, bring it up to date through its inc index, and fold the inc
/// index back into the org index.
///
/// Every operation builds into a new directory beside the index and only
/// then switches it in, so that a failure leaves the previous index usable;
/// a new index's id file names it only once it is in place. One builder at a
/// time works on an index (a lock file beside it); each run first removes the
/// staging directories that interrupted runs left. The folders the builder
/// makes are writable by its account only, and it refuses to work in one
/// that every account may write. The operations run in the CGI directory of
/// the installation, where the system library finds its settings.

#ifndef SEARCHRUN_COMPANIONS_BUILDER_INDEX_BUILDER_H
#define SEARCHRUN_COMPANIONS_BUILDER_INDEX_BUILDER_H

#include <ostream>
#include <string>

#include "access/acl_rights.h"
#include "companions/builder/build_report.h"
#include "companions/engine/codepage.h"

namespace vela {

// What the builder says of an owner name it refuses (isSafeOwnerName).
constexpr const char* kOwnerRule =
    "bad owner: an owner is 1 to 63 characters of A-Z a-z 0-9 _ . - not beginning with \".\" or "
    "\"-\", or \"/\" and such a name for a group";

struct BuildContext {
  CodePage cp;
  BuildReport& report;  // progress, notes and the summary of the build
  // An access file to protect a document index with, of the companion kind
  // `accessKind` (acl_index.h); empty: the index keeps the protections it has.
  std::string accessFile;
  AclKind accessKind = AclKind::kBuilder;
};

struct CreateRequest {
  std::string owner;
  std::string id;  // empty: a new id
  std::string desc;
  std::string type = "doc";
  std::string source;
  // A calendar of the timer that keeps the index fresh (isSafeCalendar):
  // recorded with the source in the index's home. Empty: none.
  std::string calendar;
};

// Each returns 0 on success, or 1 with a message in `error`.
int createIndex(const BuildContext& ctx, const CreateRequest& req, std::string& id,
                std::string& error);
int updateIndex(const BuildContext& ctx, const std::string& id, const std::string& source,
                std::string& error);
int rebuildIndex(const BuildContext& ctx, const std::string& id, std::string& error);

// Replaces `target` by the directory `staged` (renamed into place); the old
// directory, if any, is removed afterwards. False with a message when the
// switch fails, in which case `target` is unchanged.
bool switchDirectory(const std::string& staged, const std::string& target, std::string& error);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_INDEX_BUILDER_H
