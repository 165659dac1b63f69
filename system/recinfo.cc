/// @file recinfo.cc
/// @brief Info lines of engine records.

#include "system/recinfo.h"

#include <cstdint>
#include <cstdio>

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
  out.clear();
  RecordInfoReader reader(indexDir ? indexDir : "");
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
