/// @file msg_table.h
/// @brief The installation's message texts, keyed by short message numbers.

#ifndef SEARCHRUN_OUTPUT_MSG_TABLE_H
#define SEARCHRUN_OUTPUT_MSG_TABLE_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Message number to message text. The wording (and its language) belongs to
// the installation: "../setting/ts_cgi_msg_table.cfg" holds one message a
// line, the number, one TAB and the text. The table keeps file order and
// answers the first entry of a number.
class KestraneMsgTable {
 public:
  static constexpr int kMaxMessages = 300;
  static constexpr size_t kNumberLength = 7;  // longer numbers are cut
  static constexpr size_t kLineLength = 264;  // longer lines are cut
  static constexpr size_t kMessageBufferSize = 256;

  // Loads the file at path. False when it cannot be opened or is no regular
  // file (the table is then unchanged); lines without a TAB and lines beyond the table's capacity
  // are ignored.
  bool initialize(const char* path);
  // The same from an open stream; the stream stays the caller's.
  bool initialize(FILE* stream);
  // Loads the installation's default table, compiled into the program, for
  // a run whose table file is missing or unreadable.
  bool initializeBuiltIn();
  // Appends the compiled-in text of every number the table lacks, so a table
  // kept from an older version (settings are never overwritten) still words
  // the messages added since.
  void addMissingBuiltIn();

  // Appends one entry; the number is cut to 7 characters and the text copied.
  // False when the table is full or an argument is null.
  bool addMessage(const char* no, const char* text);

  // Index of the first entry whose number equals `no` exactly, or -1.
  int searchMsgTable(const char* no) const;

  // Copies the text of message `no` into out (256 bytes: at most 255
  // characters and a terminator) and returns out. out is emptied first; an
  // empty or unknown number (or a null out) gives nullptr.
  const char* getMessage(const char* no, char* out) const;

  // Lists every entry on standard output (a diagnostic page fragment).
  void showAllMessage() const;

  int count() const { return static_cast<int>(m_entries.size()); }

 private:
  // One line "number<TAB>text" of a table; any other line is skipped.
  void addLine(std::string& line);
  // Each line of `text` as a stream of the table is read.
  void addLines(std::string_view text);
  struct Entry {
    char no[kNumberLength + 1];
    std::string text;
  };
  std::vector<Entry> m_entries;
};

#endif  // SEARCHRUN_OUTPUT_MSG_TABLE_H
