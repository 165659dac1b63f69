/// @file fuzz_scratch.h
/// @brief A private scratch directory per fuzz process, for readers that take
/// a path rather than bytes.

#ifndef SEARCHRUN_TESTS_FUZZ_FUZZ_SCRATCH_H
#define SEARCHRUN_TESTS_FUZZ_FUZZ_SCRATCH_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzzscratch {

// The directory, made on first use and removed when the process exits.
inline const std::string& dir() {
  struct Scratch {
    Scratch() {
      char tmpl[] = "/tmp/fuzz_scratch.XXXXXX";
      if (mkdtemp(tmpl) == nullptr) abort();
      path = tmpl;
    }
    ~Scratch() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
    std::string path;
  };
  static const Scratch scratch;
  return scratch.path;
}

// Writes (replacing) dir()/name and returns its path.
inline std::string write(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = dir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

}  // namespace fuzzscratch

#endif  // SEARCHRUN_TESTS_FUZZ_FUZZ_SCRATCH_H
