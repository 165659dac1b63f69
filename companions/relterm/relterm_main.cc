/// @file relterm_main.cc
/// @brief Entry of search_relterm.exe (relterm_tool.h).

#include <xapian.h>

#include <iostream>
#include <string>
#include <vector>

#include "companions/engine/codepage.h"
#include "companions/relterm/relterm_tool.h"
#include "system/secure_file.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << "usage: search_relterm.exe -L COUNT -D HOME/relterm -o OUT -n ID...\n"
                 "writes the terms typical of the records ID... of the index HOME, one per line,\n"
                 "into OUT (an existing file)\n";
    return 0;
  }
  relterm::ToolArgs a;
  std::string error;
  if (!relterm::parseToolArgs(args, a, error)) {
    std::cerr << "search_relterm.exe: " << error << "\n";
    return 2;
  }
  std::vector<std::string> terms;
  try {
    terms = relterm::typicalTerms(a.home, a.ids, a.count);
  } catch (const Xapian::Error& e) {
    std::cerr << "search_relterm.exe: index " << a.home << ": " << e.get_description() << "\n";
    return 1;
  }
  // The dictionary entries are already in the local code page.
  const vela::CodePage cp(vela::installLanguage());
  std::string text;
  if (terms.empty()) {
    for (const std::string& t : relterm::dictionaryTerms(a.home, a.ids, a.count))
      text += t + "\n";
  } else {
    for (const std::string& t : terms)
      text += cp.fromUtf8(t) + "\n";
  }
  // The output is a name the caller claimed: written through no link.
  const UniqueFd out = openRegularForRewrite(a.output);
  if (!out || !writeAll(out.get(), text)) {
    std::cerr << "search_relterm.exe: cannot write " << a.output << "\n";
    return 1;
  }
  return 0;
}
