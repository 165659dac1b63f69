/// @file doc_extract_main.cc
/// @brief doc_extract: the text and properties of one document, written to
/// standard output as a record (extract_record.h). Meant to run as a
/// bounded child of the index builder: a hostile document may crash or stall
/// this process, never the builder.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "companions/extract/extract_record.h"
#include "companions/extract/readers.h"

namespace {

constexpr size_t kMaxInputBytes = size_t{512} << 20;

constexpr const char* kUsage =
    "usage: doc_extract [--name NAME] [--] [FILE]\n"
    "Writes the format, properties and text of one document (PDF, Office Open XML,\n"
    "OpenDocument, EPUB, the older office formats, RTF, mail and mbox, single gzip,\n"
    "bzip2 or xz files) to standard output as a length-framed record. Without FILE\n"
    "the document is read from standard input, and NAME (its file name) helps tell\n"
    "its format. On failure it writes the reason to standard error and exits 2.\n";

bool readAll(int fd, std::string& out) {
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0) return false;
    if (out.size() + static_cast<size_t>(n) > kMaxInputBytes) return false;
    out.append(buf, static_cast<size_t>(n));
  }
}

int fail(const std::string& reason) {
  fprintf(stderr, "%s\n", reason.c_str());
  return 2;
}

bool writeAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

int run(int argc, char** argv) {
  std::string name, path;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && (arg == "--help" || arg == "-h")) {
      fputs(kUsage, stdout);
      return 0;
    }
    if (options && arg == "--name" && i + 1 < argc) {
      name = argv[++i];
    } else if (options && arg == "--") {
      options = false;
    } else if (options && !arg.empty() && arg[0] == '-') {
      fputs(kUsage, stderr);
      return 64;
    } else if (path.empty()) {
      path = arg;
    } else {
      fputs(kUsage, stderr);
      return 64;
    }
  }
  std::string bytes;
  extract::Input input;
  if (!path.empty()) {
    // The programs that read the older formats take the path as an
    // argument: one beginning with "-" would read as an option.
    if (path[0] == '-') path = "./" + path;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0) return fail(std::string("cannot open: ") + strerror(errno));
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return close(fd), fail("not a regular file");
    const bool read = readAll(fd, bytes);
    close(fd);
    if (!read)
      return fail("unreadable or larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB");
    input.name = name.empty() ? path : name;
    input.path = path;
  } else {
    if (!readAll(STDIN_FILENO, bytes)) return fail("unreadable input");
    input.name = name;
  }
  input.bytes = bytes;
  extract::ExtractedDoc doc;
  std::string error;
  if (!extract::readDocument(input, doc, error)) return fail(error);
  return writeAll(extract::encodeRecord(doc)) ? 0 : fail("cannot write the record");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  } catch (const std::exception& e) {
    return fail(std::string("failed: ") + e.what());
  }
}
