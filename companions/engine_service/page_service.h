/// @file page_service.h
/// @brief The pages the engine service renders for searchrun: the page of a
/// result, made as getfilelist.exe would make it from the same words, so
/// that no renderer has to be started for it.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_SERVICE_PAGE_SERVICE_H
#define SEARCHRUN_COMPANIONS_ENGINE_SERVICE_PAGE_SERVICE_H

#include <mutex>

#include "companions/engine/service_request.h"
#include "companions/records/record_lookup.h"
#include "search/engine_wire.h"

namespace vela {

// Renders the pages of one installation. The process must work in its CGI
// directory: the renderer reads the installation's settings and results
// from there, as the program does.
class PageService {
 public:
  explicit PageService(ServedInstallation inst) : inst_(std::move(inst)) {}

  // The page for a request of Tool::kPage: the answer's output is what the
  // renderer would have written, its status the renderer's. A request that
  // does not come from the CGI directory, carries a file other than the
  // result its words name, or is not of the form of a page request is
  // refused ("getfilelist.exe: refused: ..."): no page, an error text, and
  // the caller starts the renderer.
  ToolAnswer serve(const ToolRequest& request);

  // The index directories pages read records from, kept between pages.
  render::KeptIndexDirectories& keptDirectories() { return kept_; }

 private:
  const ServedInstallation inst_;
  // One page at a time: the renderer's code is shared with programs that
  // run one page a process, and keeps some state of its own.
  std::mutex mutex_;
  static constexpr size_t kKeptDirectories = 16;
  render::KeptIndexDirectories kept_{kKeptDirectories};
};

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_SERVICE_PAGE_SERVICE_H
