/// @file scratch_files.h
/// @brief Scratch files of a run that may live in memory only.
///
/// A run hands the engine programs their query terms, and takes their
/// results, through scratch files in the CGI scratch directory. When the
/// engine service makes those runs, the files can travel with the request
/// and its answer instead: on a busy site, making and removing a dozen files
/// per request is where the file system spends most (a file system slow to
/// reuse freed inodes scans past every recently removed one on each create).
///
/// A file claimed in memory gets a fresh name like any other and is named on
/// the program's command line as before. If a run of that program falls to a
/// process after all, the memory files its command line names are created on
/// disk first (exclusively, as a claim would; a result not yet written is
/// marked so, as markResultUnwritten does), and from then on are disk files.
/// A path this registry does not hold is a plain disk file: every call then
/// does what the caller did before. Safe for use by the threads of a run.

#ifndef SEARCHRUN_SYSTEM_SCRATCH_FILES_H
#define SEARCHRUN_SYSTEM_SCRATCH_FILES_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Marks a claimed, still empty result file as not written yet (its data
// time set a second before its status time), so that a reader can tell a
// program that wrote nothing from one that wrote an empty answer. False
// when the file's times cannot be set.
bool markResultUnwritten(const char* path);

namespace scratch {

// Whether later claims may be kept in memory (off by default).
void keepInMemory(bool on);

// Back to the start of a program: every memory file forgotten, claims made
// on disk.
void forgetAll();

// Claims a fresh scratch name (prefix and random digits) in the CGI scratch
// directory: in memory when allowed, otherwise created empty on disk
// (systemGetCGITmpFile). False, with `path` empty, when no name could be
// had.
bool claim(const char* prefix, std::string& path);

// True while `path` is a memory file.
bool inMemory(const std::string& path);

// Replaces the content of a claimed file: in memory, or on disk through
// overwriteRegularFile.
bool write(const std::string& path, const std::string& bytes);

// The content of a claimed file, at most `limit` bytes; false when it
// cannot be read, and for a memory file never written.
bool read(const std::string& path, std::string& bytes, size_t limit);

// A stream reading the file; null as read is false. A disk file that is
// still as its claim left it (markResultUnwritten) is returned all the same:
// the caller tells that by the descriptor.
FILE* open(const std::string& path);

// Gives the file up: forgotten when in memory, removed from disk otherwise.
void remove(const std::string& path);

// A memory file as a program's run takes it along.
struct Attached {
  std::string path;
  std::string bytes;
};
// The memory files among `argv`, each once, with their content.
std::vector<Attached> attachedTo(const std::vector<std::string>& argv);
// A result a run made of the memory file `path` (nothing when the path is
// not one).
void takeResult(const std::string& path, std::string bytes);

// Puts the memory files among `argv` on disk before a process runs the
// program. False when one could not be created: its name is then taken by
// someone else, and stays in memory so that nothing of theirs is touched.
bool toDisk(const std::vector<std::string>& argv);

}  // namespace scratch

#endif  // SEARCHRUN_SYSTEM_SCRATCH_FILES_H
