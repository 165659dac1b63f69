/// @file acl_index.h
/// @brief The ACL companion indexes of a protected index (access/acl_rights.h
/// gives their words and files), and what the builder does to the
/// companions of an index in each of its operations.
///
/// An operation hands every record of the index's new build to a
/// CompanionBuild, stages it (the stamps and protection switches go into the
/// index's own staging directories), switches in the index, and then the
/// companions (install). Until install, the stamps of the new index and of
/// the old companions differ, and a protected index shows nothing rather
/// than one document's rights applied to another.

#ifndef SEARCHRUN_COMPANIONS_BUILDER_ACL_INDEX_H
#define SEARCHRUN_COMPANIONS_BUILDER_ACL_INDEX_H

#include <memory>
#include <string>
#include <vector>

#include "access/access_rules.h"
#include "access/acl_rights.h"
#include "companions/builder/property_index.h"
#include "companions/engine/codepage.h"

namespace vela {

// Builds the ACL companion of one side of an index in the new directory
// `staged`: one record per entry of `sources` (the record's path below the
// indexed folder; "" for a record without a document, which nobody reads),
// the user table, `stamp` and a copy of the access file `rulesText`.
bool buildAclCompanionStaged(const std::string& staged, const AclCoding& coding,
                             const std::vector<std::string>& sources, const std::string& stamp,
                             const std::string& rulesText, std::string& error);

// A fresh stamp: 32 hex digits from the system's random source; "" when it
// cannot be drawn.
std::string newAclStamp();

class CompanionBuild {
 public:
  CompanionBuild(const CodePage& cp, std::string home);
  ~CompanionBuild();  // removes what was staged and not installed
  CompanionBuild(const CompanionBuild&) = delete;
  CompanionBuild& operator=(const CompanionBuild&) = delete;

  // Decides the protections of the new build: `accessFile` of kind `kind`
  // when given (replacing the kept one of that kind), and each kind whose
  // companion keeps an access file. False with a message (the line of a
  // malformed access file) before anything is touched.
  bool prepare(const std::string& accessFile, AclKind kind, std::string& error);

  // The next record of the new org (inc: inc) index: its document's path
  // below the indexed folder and properties.
  void addRecord(bool inc, const std::string& source, const DocProperties& properties);
  // The next record, carried over from the record of the previous build
  // that was document `oldDoc` (from 1) of its file-list index; `stored` is
  // what the index keeps of it, for an index without a file-list index.
  void carryRecord(bool inc, uint32_t oldDoc, const StoredRecord& stored);

  // Stages the companions of the new build. `stagedOrg` and `stagedInc` are
  // the staging directories of the index's new org and inc parts (the
  // stamps and switches go there); an empty one keeps that part, and its
  // ACL companion is made again only when a new access file was given.
  bool stage(const std::string& stagedOrg, const std::string& stagedInc, std::string& error);
  // Switches in what stage made; for a kept org part, then its new stamp and
  // protection switch. Call after the index's own parts are in place.
  bool install(std::string& error);

 private:
  struct Protection;
  struct Staged {
    std::string dir, target;
  };
  bool stageSide(const Protection& p, bool inc, const std::string& stamp, std::string& error);
  std::string stagingFor(const std::string& target) const;

  const CodePage& m_cp;
  std::string m_home;
  std::vector<std::unique_ptr<Protection>> m_protections;
  std::vector<std::string> m_sources[2];  // org, inc
  std::vector<DocProperties> m_properties[2];
  std::vector<DocProperties> m_previous;  // of the file-list index before
  bool m_previousRead = false;
  std::vector<Staged> m_staged;
  std::string m_keptOrgStamp;  // new stamp of a kept org part
};

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_ACL_INDEX_H
