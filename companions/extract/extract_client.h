/// @file extract_client.h
/// @brief The builder's side of document reading: runs doc_extract on one
/// file in a child with CPU, memory, time and output bounds, and reads its
/// record. Links neither the format libraries nor anything but libc.

#ifndef SEARCHRUN_COMPANIONS_EXTRACT_EXTRACT_CLIENT_H
#define SEARCHRUN_COMPANIONS_EXTRACT_EXTRACT_CLIENT_H

#include <cstddef>
#include <string>
#include <string_view>

#include "companions/extract/extract_record.h"

namespace extract {

struct ExtractLimits {
  int cpuSeconds = 30;
#ifdef SR_EXTRACT_NO_ADDRESS_LIMIT
  size_t memoryBytes = 0;  // the sanitizers reserve more address space than any sane limit
#else
  size_t memoryBytes = size_t{1} << 30;  // address space; 0: none
#endif
  int wallMs = 60000;
  size_t maxRecordBytes = size_t{64} << 20;
};

struct ExtractResult {
  bool ok = false;
  std::string reason;  // when !ok: why, in a few words ("timed out after 60 s")
  ExtractedDoc doc;
};

// Runs `program` (the path of doc_extract) on the file at `path`. Fails with
// a reason when the program cannot run, exceeds a bound, ends by a signal or
// with a failure status (its first line of error output is the reason), or
// writes anything but one well-formed record.
ExtractResult extractDocument(const std::string& program, const std::string& path,
                              const ExtractLimits& limits);

// The same for a document already read: `bytes` reach the program on its
// standard input (an anonymous in-memory file, so nothing is written to
// disk and the file the caller checked is the one read), `name` tells it
// the extension.
ExtractResult extractBytes(const std::string& program, const std::string& name,
                           std::string_view bytes, const ExtractLimits& limits);

// Whether doc_extract reads documents of this file name's extension (the
// formats it knows by content alone are not claimed by name).
bool extractorReads(const std::string& name);

}  // namespace extract

#endif  // SEARCHRUN_COMPANIONS_EXTRACT_EXTRACT_CLIENT_H
