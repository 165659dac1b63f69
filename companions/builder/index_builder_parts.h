/// @file index_builder_parts.h
/// @brief What the index builder's operations share inside the builder: the
/// staging directories and owned folders of index_builder.cc, and the parts
/// of a database index (index_builder_db.cc).

#ifndef SEARCHRUN_COMPANIONS_BUILDER_INDEX_BUILDER_PARTS_H
#define SEARCHRUN_COMPANIONS_BUILDER_INDEX_BUILDER_PARTS_H

#include <string>
#include <vector>

#include "companions/builder/db_index.h"
#include "companions/builder/index_builder.h"

namespace vela {

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
