/// @file recinfo.cc
/// @brief Info lines of engine records.

#include "system/recinfo.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

#include "system/clock.h"

namespace {

// The code and message TS2InfoForID gives for a reader status.
int failure(RecInfoStatus status, int32_t recid) {
  switch (status) {
    case RecInfoStatus::kOk:
      return kRecInfoOk;
    case RecInfoStatus::kNoHeader:
      fputs("Cannot find index's files.\n", stderr);
      return kRecInfoMissing;
    case RecInfoStatus::kNoOffsets:
      fputs("Cannot find index's (rd) files.\n", stderr);
      return kRecInfoMissing;
    case RecInfoStatus::kTooManyFiles:
      fputs("big_file_num >  RECORD_FILE_COUNT_MAX\n", stderr);
      return kRecInfoBadHeader;
    case RecInfoStatus::kBadHeader:
      return kRecInfoBadHeader;
    case RecInfoStatus::kOutOfRange:
      fprintf(stderr, "too large id %d\n", recid);
      return kRecInfoTooLarge;
    case RecInfoStatus::kNullRecord:
      fputs("Null Record\n", stderr);
      return kRecInfoNullRecord;
    case RecInfoStatus::kUnreadable:
      break;
  }
  return kRecInfoUnreadable;
}

}  // namespace

int TS2InfoForID(const char* indexDir, const int* recordNumbers, std::vector<std::string>& out,
                 int count) {
  RecordInfoReader reader(indexDir ? indexDir : "");
  return TS2InfoForID(reader, recordNumbers, out, count);
}

int TS2InfoForID(RecordInfoReader& reader, const int* recordNumbers, std::vector<std::string>& out,
                 int count) {
  out.clear();
  if (const RecInfoStatus rc = reader.open(); rc != RecInfoStatus::kOk) return failure(rc, 0);
  for (int i = 0; i < count && recordNumbers != nullptr && recordNumbers[i] != 0; ++i) {
    const int32_t r = recordNumbers[i];
    std::string record;
    // A negative number lies in no data file.
    const RecInfoStatus rc =
        r < 0 ? RecInfoStatus::kOutOfRange : reader.read(static_cast<uint32_t>(r), record);
    if (rc != RecInfoStatus::kOk) return failure(rc, r);
    out.push_back(recordInfoLine(std::move(record)));
  }
  return kRecInfoOk;
}

bool KeptRecordInfo::lines(const std::string& dir, const std::vector<int>& ids,
                           std::vector<std::string>& out) {
  std::vector<int> list(ids);
  const int count = static_cast<int>(list.size());
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return TS2InfoForID(dir.c_str(), list.data(), out, count) == kRecInfoOk;
  const long long now = monotonicMs();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!reader_ || dir_ != dir || dev_ != st.st_dev || ino_ != st.st_ino ||
      changed_.tv_sec != st.st_ctim.tv_sec || changed_.tv_nsec != st.st_ctim.tv_nsec ||
      now - openedMs_ >= kMaxKeptMs) {
    dir_ = dir;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    changed_ = st.st_ctim;
    openedMs_ = now;
    reader_ = std::make_unique<RecordInfoReader>(dir);
    ++opens_;
  }
  if (TS2InfoForID(*reader_, list.data(), out, count) == kRecInfoOk) return true;
  reader_.reset();
  return false;
}

size_t KeptRecordInfo::opens() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return opens_;
}
