/// @file local_search_keys.cc
/// @brief File-name and time windows, and the pairs and keys of the hits.

#include "search/local_search_keys.h"

#include <cstring>
#include <new>

#include "search/file_name_filter.h"
#include "search/index_lists.h"

namespace {

enum class KeySource { kNone, kTime, kFileName, kOwner, kSize, kScore, kDbCell };

KeySource keySourceOf(const std::string& field) {
  if (field == "date") return KeySource::kTime;
  if (field == "filename") return KeySource::kFileName;
  if (field == "owner") return KeySource::kOwner;
  if (field == "size") return KeySource::kSize;
  if (field == "score" || field == "index" || field == "none") return KeySource::kScore;
  if (field.compare(0, 3, "DB_") == 0) return KeySource::kDbCell;
  return KeySource::kNone;
}

void logUnreadable(FILE* log, const std::string& home, const char* name, int code) {
  if (log == nullptr) return;
  std::fprintf(log, "list %s/%s unreadable (%d)\n", home.c_str(), name, code);
  std::fflush(log);
}

void deselect(VelaOut& set, VelaRecord& rec) {
  rec.m_output_flag = 0;
  --set.m_output_count;
}

template <typename Keep>
void filterSelected(VelaOut& set, Keep keep) {
  for (int32_t i = 0; i < set.m_match_count; ++i) {
    VelaRecord& rec = set.m_rec[i];
    if (rec.m_output_flag != 0 && !keep(static_cast<uint32_t>(rec.m_recid))) deselect(set, rec);
  }
}

// One list file of the index, loaded when first asked for.
template <typename List>
class ListSlot {
 public:
  explicit ListSlot(const char* name) : name_(name) {}
  List* get(const std::string& home, FILE* log) {
    if (state_ == kUnloaded) {
      state_ = loadList(list_, home, name_);
      if (state_ != kListOk) logUnreadable(log, home, name_, state_);
    }
    return state_ == kListOk ? &list_ : nullptr;
  }
  bool outOfMemory() const { return state_ == kListNoMemory; }

 private:
  static constexpr int kUnloaded = -1;
  static int loadList(TextListReader& list, const std::string& home, const char* name) {
    return list.load(home, name);
  }
  static int loadList(NumberListReader& list, const std::string& home, const char* name) {
    return list.load(home, name);
  }
  static int loadList(DbFieldTexts& texts, const std::string& home, const char*) {
    return texts.load(home);
  }

  const char* name_;
  List list_;
  int state_ = kUnloaded;
};

// The lists that the windows and keys of one index read.
struct ListCache {
  ListCache(const std::string& indexHome, FILE* logStream) : home(indexHome), log(logStream) {}
  const TextListReader* names() { return names_.get(home, log); }
  const TextListReader* owners() { return owners_.get(home, log); }
  const NumberListReader* times() { return times_.get(home, log); }
  const NumberListReader* sizes() { return sizes_.get(home, log); }
  DbFieldTexts* dbCells() { return db_.get(home, log); }
  bool outOfMemory() const {
    return names_.outOfMemory() || owners_.outOfMemory() || times_.outOfMemory() ||
           sizes_.outOfMemory() || db_.outOfMemory();
  }

  const std::string& home;
  FILE* log;

 private:
  ListSlot<TextListReader> names_{kFileNameList};
  ListSlot<TextListReader> owners_{kOwnerList};
  ListSlot<NumberListReader> times_{kTimeList};
  ListSlot<NumberListReader> sizes_{kSizeList};
  ListSlot<DbFieldTexts> db_{kDbFieldInfoFile};
};

void applyWindows(VelaOut& set, const HitKeyRequest& request, ListCache& lists) {
  // Both windows only deselect, so their order does not change the outcome.
  if (request.nameWindow()) {
    if (const TextListReader* names = lists.names()) {
      filterSelected(set, [&](uint32_t recid) {
        return checkFileName(names->text(recid), request.beginFile, request.endFile) == 0;
      });
    }
  }
  if (request.timeWindow()) {
    if (const NumberListReader* times = lists.times()) {
      filterSelected(set, [&](uint32_t recid) {
        return inTimeWindow(times->value(recid), request.beginTime, request.endTime);
      });
    }
  }
}

void addTextKey(ResultSection& section, const TextListReader* list, uint32_t recid) {
  const std::string_view text = list ? list->text(recid) : std::string_view();
  section.addTextKey(text.data(), text.size());
}

void addNumberKey(ResultSection& section, const NumberListReader* list, uint32_t recid) {
  section.addNumberKey(list ? list->value(recid) : 0);
}

void emitKey(KeySource source, const VelaRecord& rec, const HitKeyRequest& request,
             ListCache& lists, ResultSection& section) {
  const auto recid = static_cast<uint32_t>(rec.m_recid);
  switch (source) {
    case KeySource::kNone:
      break;
    case KeySource::kTime:
      addNumberKey(section, lists.times(), recid);
      break;
    case KeySource::kSize:
      addNumberKey(section, lists.sizes(), recid);
      break;
    case KeySource::kScore:
      section.addNumberKey(static_cast<uint32_t>(rec.m_score));
      break;
    case KeySource::kFileName:
      addTextKey(section, lists.names(), recid);
      break;
    case KeySource::kOwner:
      addTextKey(section, lists.owners(), recid);
      break;
    case KeySource::kDbCell: {
      DbFieldTexts* cells = lists.dbCells();
      const std::string_view text = cells ? cells->cell(recid, request.dbColumn) : "";
      section.addTextKey(text.data(), text.size());
      break;
    }
  }
}

}  // namespace

int collectHitKeys(VelaOut& set, const std::string& home, uint32_t idOffset,
                   const HitKeyRequest& request, ResultSection& section, FILE* log) {
  try {
    ListCache lists(home, log);
    applyWindows(set, request, lists);
    const KeySource source = keySourceOf(request.sortField);
    for (int32_t i = 0; i < set.m_match_count; ++i) {
      const VelaRecord& rec = set.m_rec[i];
      if (rec.m_output_flag == 0) continue;
      section.addPair(static_cast<uint32_t>(rec.m_score),
                      static_cast<uint32_t>(rec.m_recid) + idOffset);
      emitKey(source, rec, request, lists, section);
    }
    return lists.outOfMemory() ? kListNoMemory : 0;
  } catch (const std::bad_alloc&) {
    return kListNoMemory;
  }
}
