/// @file index_builder_db.cc
/// @brief Create and update of database indexes: the rows, their field
/// indexes and the column mapping.

#include <filesystem>

#include "companions/builder/index_builder_parts.h"
#include "companions/builder/index_writer.h"
#include "companions/engine/engine_query.h"
#include "system/column_mapping.h"
#include "system/layout.h"
#include "system/secure_file.h"

namespace vela {

namespace {

namespace fs = std::filesystem;

bool writeMapping(const std::string& owner, const std::string& id, const std::string& text,
                  std::string& error) {
  const std::string sys = systemHome();
  const std::string dir = systemGetOwnerHome(owner.c_str()) + "/db/" + id;
  if (dir.compare(0, sys.size(), sys) != 0 || !makeOwnedDirs(sys, dir.substr(sys.size()), error))
    return false;
  if (replaceFileAtomically(dir + "/column_mapping.txt", text, kIndexFileMode)) return true;
  error = "cannot write " + dir + "/column_mapping.txt";
  return false;
}

// The field index of an inc index without rows.
bool buildEmptyFieldIndex(const std::string& dir, std::string& error) {
  try {
    IndexWriter writer(dir);
    if (!writer.finish(error)) return false;
  } catch (const Xapian::Error& e) {
    error = "cannot build " + dir + ": " + e.get_description();
    return false;
  }
  if (writeNewFile(dir + "/sbf_setting", "")) return true;
  error = "cannot write the field setting in " + dir;
  return false;
}

bool numberColumns(const std::vector<DbTable>& tables, DbColumns& columns, std::string& error) {
  if (columns.add(tables)) return true;
  error = "the tables have more than " + std::to_string(kMaxDbFieldNo) + " columns of their own";
  return false;
}

}  // namespace

void removeDbStaging(const DbStaging& staged) {
  std::error_code ec;
  for (const std::string* dir : {&staged.org, &staged.sbf, &staged.incSbf})
    if (!dir->empty()) fs::remove_all(*dir, ec);
}

bool stageDb(const BuildContext& ctx, const std::vector<DbTable>& tables, const std::string& owner,
             const std::string& id, const std::string& home, DbStaging& staged,
             std::string& error) {
  DbColumns columns(ctx.cp);
  if (!numberColumns(tables, columns, error)) return false;
  staged.org = stagingDir(home, "org");
  staged.sbf = stagingDir(home, "sbf");
  staged.incSbf = stagingDir(home, "isbf");
  staged.mapping = columns.mappingText(id);
  if (buildDbStaged(ctx, allRows(tables), columns, owner, staged.org, staged.sbf, error) &&
      buildEmptyFieldIndex(staged.incSbf, error))
    return true;
  removeDbStaging(staged);
  return false;
}

bool installDbParts(const DbStaging& staged, const std::string& home, const std::string& owner,
                    const std::string& id, std::string& error) {
  if (!switchDirectory(staged.sbf, home + "_sbf", error) ||
      !switchDirectory(staged.incSbf, incHome(home) + "_sbf", error)) {
    removeDbStaging(staged);
    return false;
  }
  return writeMapping(owner, id, staged.mapping, error);
}

int updateDbIndex(const BuildContext& ctx, const std::string& id, const std::string& owner,
                  const std::string& home, const std::string& source, std::string& error) {
  std::vector<DbTable> tables;
  if (!readDbSource(source, ctx.cp, tables, error)) return 1;
  // Columns keep the numbers they were searched by; new ones are numbered on.
  DbColumns columns(ctx.cp);
  if (!columns.readMapping(ColumnMapping::columnMappingPath(owner.c_str(), id.c_str()))) {
    error = "the column mapping of index " + id + " is damaged: create the index again";
    return 1;
  }
  if (!numberColumns(tables, columns, error)) return 1;
  DbUpdatePlan plan;
  try {
    // An index built before rows had digests takes every row as changed.
    std::vector<uint64_t> digests;
    readRowDigests(home, digests);
    plan = planDbUpdate(tables, readStoredRecords(openIndexDb(home)), digests);
  } catch (const Xapian::Error& e) {
    error = "index " + id + " cannot be read (" + e.get_description() + "); create it again";
    return 1;
  }
  DbStaging staged;
  staged.org = stagingDir(home, "inc");
  staged.incSbf = stagingDir(home, "isbf");
  if (!buildDbStaged(ctx, plan.changed, columns, owner, staged.org, staged.incSbf, error) ||
      !writeIncrementalFiles(staged.org, plan.superseded, plan.supersededBytes)) {
    if (error.empty()) error = "cannot write the superseded-record list of " + id;
    removeDbStaging(staged);
    return 1;
  }
  // The inc index first, then its field index: a search in between finds
  // the new rows by the fields they had before at worst.
  if (!switchDirectory(staged.org, incHome(home), error) ||
      !switchDirectory(staged.incSbf, incHome(home) + "_sbf", error)) {
    removeDbStaging(staged);
    return 1;
  }
  return writeMapping(owner, id, columns.mappingText(id), error) ? 0 : 1;
}

}  // namespace vela
