/// @file vela_search.cc
/// @brief The search job: set-up, the local search of an org index and its
/// inc index, and the result block.

#include "search/vela_search.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "search/local_search_keys.h"
#include "search/process_runner.h"
#include "system/index_format.h"
#include "system/index_stats.h"
#include "system/layout.h"
#include "system/lines.h"
#include "system/log.h"
#include "system/secure_file.h"

// How the hits of the org index are found.
enum class SearchKind { kPlain, kField, kDigitRange, kProperty, kDateRange };

// What a local search works from, fixed before the first command runs.
struct LocalSearchPlan {
  std::string owner, index;
  std::string incName, sbfName, incSbfName, fileListName;
  uint32_t orgCount = 0;
  uint32_t incCount = 0;
  SearchKind kind = SearchKind::kPlain;
  std::string low, high;  // numeric range
  std::string orgCommand, orgResult;
  // The inc index's command, made with the org one so that both can be
  // handed over together; incRc is what the inc search fails with when it
  // could not be made.
  std::string incCommand, incResult;
  bool incField = false;
  int incRc = kSearchOk;
  int rc = kSearchOk;  // the whole plan's
};

namespace {

const char* text(const char* value) {
  return value ? value : "";
}

bool startsWith(const std::string& value, const char* prefix) {
  return value.compare(0, std::strlen(prefix), prefix) == 0;
}

uint32_t recordCount(const std::string& owner, const std::string& index) {
  uint32_t count = 0;
  double size = 0;
  systemGetIndexNumRec(owner.c_str(), index.c_str(), count, size);
  return count;
}

// Where the field settings of `sbfName` are read. Each field index numbers
// its records and rows on its own, so an inc field index with a setting of
// its own is read with it; one built with the setting beside the org field
// index only is read with that one.
std::string fieldSettingsHome(const LocalSearchPlan& plan, const std::string& sbfName) {
  const std::string home = systemGetIndexHome(plan.owner.c_str(), sbfName.c_str());
  if (sbfName == plan.sbfName) return home;
  struct stat st;
  const std::string setting = home + "/" + kSbfSettingFile;
  // Anything there, even what cannot be read, is its own setting.
  if (lstat(setting.c_str(), &st) == 0 || errno != ENOENT) return home;
  return systemGetIndexHome(plan.owner.c_str(), plan.sbfName.c_str());
}

void logCount(FILE* log, const char* label, const VelaOutPtr& set) {
  if (!set) return;
  const std::string line = std::string(label) + std::to_string(set->m_output_count);
  logTimeInfo(log, line.c_str());
}

}  // namespace

int velaSearch::initialize(const char* velaOption, const char* ipAddr, const char* owner,
                           const char* idxName, const char* port, enumLocalRemote where, FILE* log,
                           const std::string& sbfString, const char* dbType, const char* sortField,
                           const char* beginFile, const char* endFile, int32_t beginTime,
                           int32_t endTime, int searchMode, int digitField) {
  freeMemory();
  m_velaOption = text(velaOption);
  m_ipAddr = text(ipAddr);
  m_port = text(port);
  m_fgLocalRemote = where;
  m_fplog = log;
  m_sortField = text(sortField);
  m_beginFile = text(beginFile);
  m_endFile = text(endFile);
  m_beginTime = beginTime;
  m_endTime = endTime;
  m_fg_search_file_name = searchMode;
  m_digit_field = digitField;
  return concate(owner, idxName, sbfString, dbType);
}

int velaSearch::concate(const char* owner, const char* idxName, const std::string& sbfString,
                        const char* dbType) {
  m_owner.emplace_back(text(owner));
  m_idxName.emplace_back(text(idxName));
  m_sbfString.push_back(sbfString);
  m_dbType.emplace_back(text(dbType));
  m_numDb = static_cast<int>(m_owner.size());
  return kSearchOk;
}

int velaSearch::Execute() {
  try {
    return m_fgLocalRemote == fgRemote ? RemoteSearch() : LocalSearch();
  } catch (const std::bad_alloc&) {
    return kSearchNoMemory;
  }
}

void velaSearch::freeMemory() {
  m_org_velaout.reset();
  m_inc_velaout.reset();
  std::string().swap(m_velaResult);
  m_returnQuery.clear();
  m_numRec = 0;
  m_owner.clear();
  m_idxName.clear();
  m_dbType.clear();
  m_sbfString.clear();
  m_numDb = 0;
}

const char* velaSearch::getIndexName() const {
  return m_idxName.empty() ? "" : m_idxName.front().c_str();
}

const char* velaSearch::getIndexOwner() const {
  return m_owner.empty() ? "" : m_owner.front().c_str();
}

void velaSearch::setReturnQuery(const char* matched) {
  m_returnQuery.assign(matched, strnlen(matched, kReturnQueryMax));
}

FILE* velaSearch::runCommand(const std::string& command, const std::string& resultPath) {
  if (m_fplog) {
    std::fprintf(m_fplog, "Command : %s\n", command.c_str());
    std::fflush(m_fplog);
  }
  return ExecuteCmd(command.c_str(), resultPath.c_str(), m_fplog);
}

int velaSearch::readFieldResult(FILE* fp, const LocalSearchPlan& plan, const std::string& sbfName,
                                VelaOutPtr& out) {
  VelaOut* raw = nullptr;
  int rc = parseVelaOutFromFile(fp, &raw);
  if (rc != kBinoutOk) return rc;
  const VelaOutPtr rawSet(raw);
  setReturnQuery(rawSet->m_matched_str);
  if (!m_fieldFilter->loadFieldSettings(fieldSettingsHome(plan, sbfName), m_sbfString.front()))
    return kSearchFieldSettings;
  VelaOut* selected = nullptr;
  rc = m_fieldFilter->filterFieldResult(*rawSet, &selected);
  if (rc == kBinoutOk) out.reset(selected);
  return rc;
}

int velaSearch::searchOrg(LocalSearchPlan& plan) {
  // A query the exclusion lists refused leaves no command: no hits.
  if (plan.orgCommand.empty()) return kBinoutOk;
  UniqueFile fp(runCommand(plan.orgCommand, plan.orgResult));
  if (!fp) return kSearchNoStream;
  int rc = kBinoutOk;
  if (plan.kind == SearchKind::kField) {
    rc = readFieldResult(fp.get(), plan, plan.sbfName, m_org_velaout);
  } else if (plan.kind == SearchKind::kProperty) {
    RecIdFilter* property = m_propertySource->propertyFilterFor(m_fg_search_file_name);
    VelaOut* org = nullptr;
    VelaOut* inc = nullptr;
    rc = property ? parseSearchFileName(fp.get(), plan.orgCount, &org, &inc, *property)
                  : kBinoutNoHits;
    m_org_velaout.reset(org);
    m_inc_velaout.reset(inc);
    if (rc == kBinoutOk && (org || inc)) setReturnQuery((org ? org : inc)->m_matched_str);
  } else {
    VelaOut* org = nullptr;
    rc = parseVelaOutFromFile(fp.get(), &org);
    m_org_velaout.reset(org);
    if (rc == kBinoutOk) setReturnQuery(org->m_matched_str);
  }
  return rc == kBinoutNoHits ? kBinoutOk : rc;
}

int velaSearch::filterOrgSet(const LocalSearchPlan& plan) {
  if (!m_org_velaout) return kSearchOk;
  if (m_incListFilter) {
    const std::string incHome = systemGetIndexHome(plan.owner.c_str(), plan.incName.c_str());
    const int rc = m_incListFilter->filterOrgHits(incHome, plan.orgCount, *m_org_velaout);
    if (rc != kSearchOk) return rc;
  }
  if (m_orgAclFilter) m_orgAclFilter->filterResultSet(*m_org_velaout);
  return kSearchOk;
}

int velaSearch::planIncSearch(LocalSearchPlan& plan) {
  const char* owner = plan.owner.c_str();
  std::string& command = plan.incCommand;
  std::string& resultPath = plan.incResult;
  bool field = plan.kind == SearchKind::kField;
  if (plan.kind == SearchKind::kDigitRange &&
      !getDigitRangeCommand(owner, plan.incName.c_str(), command, resultPath, plan.low.c_str(),
                            plan.high.c_str(), m_digit_field)) {
    // Without a numeric filter index of its own the inc index falls back to
    // a field search, as the org index would.
    if (!m_fieldFilter) return kSearchNotAvailable;
    field = true;
  }
  plan.incField = field;
  bool built = true;
  if (field) {
    built =
        getVelaCommand(owner, plan.incSbfName.c_str(), m_velaOption.c_str(), command, resultPath);
  } else if (plan.kind == SearchKind::kDateRange) {
    built = getDateRangeCommand(owner, plan.incName.c_str(), command, resultPath, m_beginTime,
                                m_endTime);
  } else if (plan.kind != SearchKind::kDigitRange) {
    built = getVelaCommand(owner, plan.incName.c_str(), m_velaOption.c_str(), command, resultPath);
  }
  return built ? kSearchOk : kExecNoFile;
}

int velaSearch::searchInc(LocalSearchPlan& plan) {
  if (plan.incRc != kSearchOk) return plan.incRc;
  if (plan.incCommand.empty()) return kBinoutOk;  // refused by the exclusion lists
  ++m_incSearches;
  UniqueFile fp(runCommand(plan.incCommand, plan.incResult));
  if (!fp) return kSearchNoStream;

  int rc = kBinoutOk;
  if (plan.incField) {
    rc = readFieldResult(fp.get(), plan, plan.incSbfName, m_inc_velaout);
  } else {
    VelaOut* inc = nullptr;
    rc = parseVelaOutFromFile(fp.get(), &inc);
    m_inc_velaout.reset(inc);
    if (rc == kBinoutOk && !m_org_velaout) setReturnQuery(inc->m_matched_str);
  }
  return rc == kBinoutNoHits ? kBinoutOk : rc;
}

int velaSearch::buildResultBlock(const LocalSearchPlan& plan) {
  if (m_fplog) {
    std::fprintf(m_fplog, "m_sortField = %s\n", m_sortField.c_str());
    std::fflush(m_fplog);
  }
  HitKeyRequest request;
  request.sortField = m_sortField;
  request.beginFile = m_beginFile;
  request.endFile = m_endFile;
  request.beginTime = m_beginTime;
  request.endTime = m_endTime;
  request.fileIndex = startsWith(m_dbType.front(), "doc");
  request.dateRangeSearch = plan.kind == SearchKind::kDateRange;
  if (startsWith(m_sortField, "DB_") && m_dbSortColumn)
    request.dbColumn = m_dbSortColumn(plan.owner, plan.index, m_sortField.substr(3));

  ResultSection section;
  const struct {
    VelaOut* set;
    const std::string& name;
    uint32_t offset;
  } sides[] = {{m_org_velaout.get(), plan.index, 0},
               {m_inc_velaout.get(), plan.incName, plan.orgCount}};
  for (const auto& side : sides) {
    if (side.set == nullptr || side.set->m_output_count <= 0) continue;
    const std::string home = systemGetIndexHome(plan.owner.c_str(), side.name.c_str());
    const int rc = collectHitKeys(*side.set, home, side.offset, request, section, m_fplog);
    if (rc != 0) return rc;
  }
  logCount(m_fplog, "m_org_velaout->m_output_count : ", m_org_velaout);
  logCount(m_fplog, "m_inc_velaout->m_output_count : ", m_inc_velaout);

  // The count written is the number of pairs written, so a filter that
  // miscounted can never make the section disagree with itself.
  m_numRec = static_cast<int>(section.n);
  m_velaResult.clear();
  appendResultSection(section, m_velaResult);
  if (m_numRec == 0) m_returnQuery.clear();
  return kSearchOk;
}

int velaSearch::planLocalSearch(LocalSearchPlan& plan) {
  plan.owner = m_owner.front();
  plan.index = m_idxName.front();
  plan.incName = incPartOf(plan.index);
  plan.sbfName = plan.index + "_sbf";
  plan.incSbfName = plan.index + "_inc_sbf";
  plan.fileListName = plan.index + "_file";
  plan.orgCount = recordCount(plan.owner, plan.index);
  plan.incCount = recordCount(plan.owner, plan.incName);

  int mode = m_fg_search_file_name;
  const bool property = mode >= kModePropertyFirst && mode <= kModePropertyLast;
  if (property && startsWith(m_dbType.front(), "db")) mode = m_fg_search_file_name = 0;

  const char* owner = plan.owner.c_str();
  const std::string& sbf = m_sbfString.front();
  bool built = true;
  if (sbf.size() > 1 && sbf[0] == 'N') {
    if (checkFieldRangeSearch(m_velaOption.c_str(), plan.low, plan.high) &&
        getDigitRangeCommand(owner, plan.index.c_str(), plan.orgCommand, plan.orgResult,
                             plan.low.c_str(), plan.high.c_str(), m_digit_field)) {
      plan.kind = SearchKind::kDigitRange;
    } else {
      plan.kind = SearchKind::kField;
      if (!m_fieldFilter) return kSearchNotAvailable;
      built = getVelaCommand(owner, plan.sbfName.c_str(), m_velaOption.c_str(), plan.orgCommand,
                             plan.orgResult);
    }
  } else if (mode >= kModePropertyFirst && mode <= kModePropertyLast) {
    plan.kind = SearchKind::kProperty;
    if (!m_propertySource) return kSearchNotAvailable;
    built = getVelaCommand(owner, plan.fileListName.c_str(), m_velaOption.c_str(), plan.orgCommand,
                           plan.orgResult);
  } else if (mode == kModeDateRange) {
    plan.kind = SearchKind::kDateRange;
    built = getDateRangeCommand(owner, plan.index.c_str(), plan.orgCommand, plan.orgResult,
                                m_beginTime, m_endTime);
  } else {
    built = getVelaCommand(owner, plan.index.c_str(), m_velaOption.c_str(), plan.orgCommand,
                           plan.orgResult);
  }
  if (!built) return kExecNoFile;
  if (plan.kind != SearchKind::kProperty && plan.incCount > 0) plan.incRc = planIncSearch(plan);
  return kSearchOk;
}

std::vector<ChildProgram> velaSearch::plannedRuns() {
  std::vector<ChildProgram> runs;
  if (m_fgLocalRemote != fgLocal || m_owner.empty()) return runs;
  m_plan = std::make_shared<LocalSearchPlan>();
  try {
    m_plan->rc = planLocalSearch(*m_plan);
  } catch (const std::bad_alloc&) {
    m_plan->rc = kSearchNoMemory;
  }
  if (m_plan->rc != kSearchOk) return runs;
  for (const std::string* command : {&m_plan->orgCommand, &m_plan->incCommand}) {
    ChildProgram program;
    if (!command->empty() && programOfCommand(command->c_str(), program))
      runs.push_back(std::move(program));
  }
  return runs;
}

void velaSearch::dropPlan() {
  m_plan.reset();
  removeScratchFiles();
}

int velaSearch::LocalSearch() {
  if (m_owner.empty()) return kSearchNotAvailable;
  // Scratch files of the job go once it has read them, whatever the outcome:
  // a busy site would fill its disk with them.
  struct ScratchCleanup {
    VelaCommand& job;
    ~ScratchCleanup() { job.removeScratchFiles(); }
  } cleanup{*this};
  m_org_velaout.reset();
  m_inc_velaout.reset();
  m_returnQuery.clear();
  m_numRec = 0;

  std::shared_ptr<LocalSearchPlan> planned = std::move(m_plan);
  if (!planned) {
    planned = std::make_shared<LocalSearchPlan>();
    planned->rc = planLocalSearch(*planned);
  }
  LocalSearchPlan& plan = *planned;
  if (plan.rc != kSearchOk) return plan.rc;

  int rc = searchOrg(plan);
  if (rc == kSearchOk) rc = filterOrgSet(plan);
  if (rc == kSearchOk && plan.kind != SearchKind::kProperty && plan.incCount > 0)
    rc = searchInc(plan);
  if (rc != kSearchOk) return rc;
  if (m_inc_velaout && m_incAclFilter) m_incAclFilter->filterResultSet(*m_inc_velaout);
  return buildResultBlock(plan);
}
