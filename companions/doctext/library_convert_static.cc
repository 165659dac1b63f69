/// @file library_convert_static.cc
/// @brief The static page renderer's side of library_convert.h: no
/// converters, and the hand-off to the twin that has them.

#include <cstdlib>

#include "companions/doctext/library_convert.h"

namespace render {

namespace {

void (*handOffToFullRuntime)() = nullptr;

}  // namespace

bool libraryToUtf8(std::string_view, const char*, int, bool, std::string&) {
  requireFullRuntime();
  return false;
}

bool hasFullRuntime() {
  return false;
}

void requireFullRuntime() {
  if (handOffToFullRuntime != nullptr) handOffToFullRuntime();
  // A page written without the conversion would show other text than the
  // same page of the twin: none is written.
  std::abort();
}

void setFullRuntimeHandOff(void (*handOff)()) {
  handOffToFullRuntime = handOff;
}

}  // namespace render
