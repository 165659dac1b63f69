/// @file fuzz_scratch.h
/// @brief What the fuzz targets share: a private scratch directory per
/// process for readers that take a path rather than bytes, and the trap.

#ifndef SEARCHRUN_TESTS_FUZZ_FUZZ_SCRATCH_H
#define SEARCHRUN_TESTS_FUZZ_FUZZ_SCRATCH_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzzscratch {

// Stops the run when a property does not hold.
inline void check(bool holds) {
  if (!holds) __builtin_trap();
}

// The directory, in memory where there is /dev/shm; removed at exit.
inline const std::string& dir() {
  static const struct Scratch {
    std::string path =
        std::filesystem::exists("/dev/shm") ? "/dev/shm/fuzzXXXXXX" : "/tmp/fuzzXXXXXX";
    Scratch() { check(mkdtemp(path.data()) != nullptr); }
    ~Scratch() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  } scratch;
  return scratch.path;
}

// Writes (replacing) dir()/name and returns its path.
inline std::string write(const std::string& name, const void* data, size_t size) {
  const std::string path = dir() + "/" + name;
  std::ofstream(path, std::ios::binary).write(static_cast<const char*>(data), size);
  return path;
}
inline std::string write(const std::string& name, const std::string& bytes) {
  return write(name, bytes.data(), bytes.size());
}

}  // namespace fuzzscratch

#endif  // SEARCHRUN_TESTS_FUZZ_FUZZ_SCRATCH_H
