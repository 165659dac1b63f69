/// @file local_files.h
/// @brief What the renderer reads from the local file system, read so that
/// nothing planted beside the files it wants decides what it reads: bounded
/// reads of regular files only (a symbolic link as the last component, a FIFO,
/// a device or a directory is refused, and none of them can stall the page),
/// the result files that must belong to the renderer's own account, and the
/// installation settings the renderer needs.
///
/// The renderer runs for anyone who can reach the web server, with the
/// account that can read every index; a link in ../tmp or in an index
/// directory would otherwise show the target's text to the caller.

#ifndef SEARCHRUN_COMPANIONS_RECORDS_LOCAL_FILES_H
#define SEARCHRUN_COMPANIONS_RECORDS_LOCAL_FILES_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "system/secure_file.h"

namespace render {

// Reads at most `limit` bytes of `fd` from its current position into `out`.
// False on a read error.
bool readPrefix(int fd, size_t limit, std::string& out);
// The same for a regular file, which is at its end once a read gives fewer
// bytes than asked.
bool readRegularPrefix(int fd, size_t limit, std::string& out);

// Reads at most `limit` bytes of `fd` from its start into `out`. False on a
// seek or read error.
bool readFromStart(int fd, size_t limit, std::string& out);

// The head of an open file, read only as far as a caller asks: a caller that
// needs the first kilobytes of a large document never reads the rest.
class FileHead {
 public:
  // Reads from where fd stands; fd, a regular file, must outlive the
  // object.
  explicit FileHead(int fd) : fd_(fd) {}
  // `bytes` = the first n bytes, or all there are when the file has fewer.
  // Bytes already read are not read again, so asking for fewer than before
  // reads nothing. False on a read error. The view lasts until the next call.
  bool read(size_t n, std::string_view& bytes);

 private:
  int fd_;
  // Not a string: growing one fills it with zeros the read overwrites.
  std::unique_ptr<char[]> bytes_;
  size_t size_ = 0;
  size_t capacity_ = 0;
  bool atEnd_ = false;
};

// openRegularFile (system/secure_file.h), with the status of the file it
// checked in `st`: one fstat where a caller needs the status too.
UniqueFd openRegularWithStatus(const std::string& path, struct stat& st);

// Reads at most `limit` bytes from the start of the regular file at `path`
// (openRegularFile). False when it cannot be opened or read.
bool readFilePrefix(const std::string& path, size_t limit, std::string& out);

// The lines of `text` without their line feeds; a last line without one
// still counts. At most maxLines lines, each cut to maxChars bytes.
std::vector<std::string> splitLines(std::string_view text, size_t maxLines, size_t maxChars);

// The first line of a regular file without its line break ("\n" or "\r\n"),
// cut to maxChars. False when the file cannot be opened or is empty.
bool readFirstLineOf(const std::string& path, size_t maxChars, std::string& line);

// The value of `key` in a key=value settings file (config.h gives the
// rules: "#" comments, the first "=" splits, keys compare exactly, lines cut
// to maxLineChars). False when the file cannot be read or has no such key.
bool findSetting(const std::string& path, const char* key, size_t maxLineChars, std::string& value);
// The same in the text of a settings file already read.
bool findSettingIn(std::string_view text, const char* key, size_t maxLineChars, std::string& value);

// A result file or side file is only believed when the renderer's own
// account wrote it and no other account can change it: in a shared
// directory anyone could otherwise plant a result naming another owner's
// index (or a hard link to a file of ours).
bool isOwnPrivateFile(int fd);

// Opens a file of a result (openRegularFile) and checks isOwnPrivateFile.
// `missing` tells a name that does not exist from one that was refused.
UniqueFd openOwnFile(const std::string& path, bool& missing);

// The settings of the installation the renderer needs, read from files
// relative to the CGI directory (layout.h gives their names and rules).
struct Installation {
  int language = -1;  // layout.h code; -1 unknown
  unsigned loginTimeoutSeconds = 3600;
  std::string systemHome;  // SYSTEM_DIRECTORY; "" when not configured
  std::string domainName;  // DOMAIN_NAME
  std::string hostAddress = "127.0.0.1";

  // Reads ../lang.cfg, ../host_address, ../setting/system_info.cfg and
  // ../setting/user_config.cfg; what is missing keeps its default.
  static Installation read();

  // The directories of an owner and of an index ("" without a system home);
  // the caller checks that owner and index are safe names.
  std::string ownerHome(const std::string& owner) const;
  std::string indexHome(const std::string& owner, const std::string& index) const;
  std::string incIndexHome(const std::string& owner, const std::string& index) const;
  // True when a record line's host is this one.
  bool isLocalHost(const std::string& ip) const;
};

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_RECORDS_LOCAL_FILES_H
