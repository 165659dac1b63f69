/// @file index_builder_parts.h
/// @brief What the index builder's operations share inside the builder: the
/// staging directories, locks and owned folders of index_staging.cc, and the
/// parts of a database index (index_builder_db.cc).

#ifndef SEARCHRUN_COMPANIONS_BUILDER_INDEX_BUILDER_PARTS_H
#define SEARCHRUN_COMPANIONS_BUILDER_INDEX_BUILDER_PARTS_H

#include <memory>
#include <string>
#include <vector>

#include "companions/builder/db_index.h"
#include "companions/builder/index_builder.h"
#include "system/secure_file.h"

namespace vela {

// Holds the builder's lock on one index for the life of the object. The
// lock file stays between runs; it is created exclusively, or else opened
// only when it is a regular file and not through a link.
class IndexLock {
 public:
  explicit IndexLock(const std::string& path);
  bool opened() const { return fd_.valid(); }
  bool locked() const { return locked_; }

 private:
  UniqueFd fd_;
  bool locked_ = false;
};

// The owner's index folder, made when missing; "" with a message when the
// system directory is missing or a folder on the way is unsafe.
std::string prepareIndexDir(const std::string& owner, std::string& error);
// Takes the builder's lock of the index in `home` and clears what earlier
// runs left behind; null with a message when another builder holds it.
std::unique_ptr<IndexLock> lockIndex(const std::string& home, const std::string& id,
                                     std::string& error);
// Finds an existing index by its id file and locks it; null with a message
// when either fails. A database index is found only when `type` is given
// (it receives the index's type).
std::unique_ptr<IndexLock> lockExisting(const std::string& id, std::string& owner,
                                        std::string& home, std::string& error,
                                        std::string* type = nullptr);
// Switches in a new org and inc pair (org first); on failure the staged
// directories not switched in are removed. False with a message.
bool switchPair(const std::string& org, const std::string& home, const std::string& inc,
                std::string& error);
// Removes the id reservations of builders that are gone.
void sweepStaleReservations();
// Claims a new id made from the clock by creating its id file exclusively
// with a note of this builder instead of a record. False with a message.
bool reserveIndexId(std::string& id, std::string& error);

// The staging directory of one part of the index in `home`, beside it.
std::string stagingDir(const std::string& home, const char* part);
// The inc index of the index in `home`.
std::string incHome(const std::string& home);
// The system directory; "" when the settings name none.
std::string systemHome();
// Makes the missing directories of `rel` below `base`, none of which, nor
// `base`, may be writable by every account. False with a message.
bool makeOwnedDirs(const std::string& base, const std::string& rel, std::string& error);

// The staging directories of a new database index besides its inc index,
// and its column mapping.
struct DbStaging {
  std::string org;      // the rows
  std::string sbf;      // their field index
  std::string incSbf;   // the field index of the (empty) inc index
  std::string mapping;  // the text of column_mapping.txt
};

// Builds a database index of `tables` into staging directories for `home`.
// False with a message (and nothing left staged) on failure.
bool stageDb(const BuildContext& ctx, const std::vector<DbTable>& tables, const std::string& owner,
             const std::string& id, const std::string& home, DbStaging& staged, std::string& error);
void removeDbStaging(const DbStaging& staged);
// Switches in the field indexes and writes the column mapping of a database
// index whose org and inc indexes are in place. False with a message.
bool installDbParts(const DbStaging& staged, const std::string& home, const std::string& owner,
                    const std::string& id, std::string& error);

// The update of database index `id` (locked by the caller) from the tables
// at `source`: the rows that are new or changed go into its inc index and
// inc field index, and the org records they replace, or whose rows are gone,
// are marked. 0, or 1 with a message.
int updateDbIndex(const BuildContext& ctx, const std::string& id, const std::string& owner,
                  const std::string& home, const std::string& source, std::string& error);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_INDEX_BUILDER_PARTS_H
