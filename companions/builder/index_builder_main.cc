/// @file index_builder_main.cc
/// @brief Entry of index_builder: reads the command line and runs one of the
/// operations of index_builder.h.

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "access/access_rules.h"
#include "companions/builder/index_builder.h"
#include "companions/builder/scheduled_update.h"
#include "companions/builder/similar_terms.h"
#include "companions/builder/source_tree.h"
#include "system/build_status.h"
#include "system/index_id.h"
#include "system/layout.h"

namespace {

constexpr const char* kUsage =
    "Usage: index_builder [--root ROOT] [--no-similar] [--quiet] COMMAND ...\n"
    "\n"
    "Commands:\n"
    "  create --owner OWNER [--id ID] [--desc TEXT] [--type doc] [--schedule CALENDAR]\n"
    "         SOURCE_DIR\n"
    "      builds a new index of the documents below SOURCE_DIR (plain text, HTML,\n"
    "      PDF, office and OpenDocument files, EPUB, mail, RTF, gzip/bzip2/xz\n"
    "      files, the others through binind/doc_extract) and prints its id;\n"
    "      --schedule records SOURCE_DIR and the timer's calendar (daily, hourly,\n"
    "      \"*-*-* 03:00\", ...) with the index for the command scheduled\n"
    "  create --owner OWNER [--id ID] [--desc TEXT] --type db [--schedule CALENDAR] TABLES\n"
    "      builds a database index of a CSV table, or of the tables (*.csv, at\n"
    "      most 20) of a folder: one record per row (the first row names the\n"
    "      columns), and a field index for searches by column\n"
    "  update --id ID SOURCE\n"
    "      puts new and changed documents (or table rows) into the index's inc\n"
    "      index and marks the org records they replace (and those of deleted\n"
    "      documents or rows)\n"
    "  rebuild --id ID\n"
    "      folds the inc index into the org index (document indexes)\n"
    "  scheduled --id ID\n"
    "      what the timer of an index runs: update from the recorded SOURCE_DIR,\n"
    "      then rebuild when the inc index is past REBUILD_INC_MB of\n"
    "      ROOT/setting/index_update.cfg (0: never); a run that finds another of\n"
    "      the same index running leaves at once\n"
    "  similar\n"
    "      builds the similar-term index of the installation's words anew in\n"
    "      the similar-term folder (each command above does so after changing an\n"
    "      index, unless given --no-similar); the account needs to write the\n"
    "      installation folder of ROOT/setting/system_info.cfg (INSTALL_DIRECTORY)\n"
    "Each of create (doc), update and rebuild also takes\n"
    "  --access FILE [--access-kind builder|file]\n"
    "      protects the index with the access file FILE (who may read which\n"
    "      documents; see README), as an ACL-builder index (the default) or a\n"
    "      file-ACL index; later runs keep it until another is given. A\n"
    "      malformed file stops the run before the index is touched.\n"
    "A build notes each document it leaves out and ends with a summary of the\n"
    "documents indexed per format and skipped per reason; on a terminal it also\n"
    "shows its progress. --quiet (for timers and scripts) keeps only the notes.\n"
    "ROOT is the installation root; without --root the builder runs, like every\n"
    "program of the installation, in its CGI directory (ROOT/search-cgi).\n";

int usage(const std::string& problem) {
  if (!problem.empty()) std::cerr << "index_builder: " << problem << "\n";
  std::cerr << kUsage;
  return 2;
}

// What a build status report shows of this build; a record that cannot be
// written leaves the index as built and is reported.
void recordBuild(const std::string& id, const std::string& mode, time_t start) {
  IndexIdFileMgr ids;
  if (!ids.readIndexIdInfo(id.c_str())) return;
  BuildRecord record{static_cast<int32_t>(start), static_cast<int32_t>(time(nullptr)),
                     ids.getIndexType(), mode};
  if (!writeBuildRecord(systemGetIndexHome(ids.getIndexOwner(), id.c_str()), record))
    std::cerr << "index_builder: the build status of " << id << " cannot be written\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::map<std::string, std::string> opts;
  std::vector<std::string> words;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--no-similar" || a == "--quiet") {
      opts[a] = "";
      continue;
    }
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (a == "--root" || a == "--owner" || a == "--id" || a == "--desc" || a == "--type" ||
        a == "--access" || a == "--access-kind" || a == "--schedule") {
      if (i + 1 == args.size()) return usage(a + " needs a value");
      opts[a] = args[++i];
    } else if (a.size() > 1 && a[0] == '-') {
      return usage("unknown option " + a);
    } else {
      words.push_back(a);
    }
  }
  if (words.empty()) return usage("no command");
  if (opts.count("--schedule") && opts["--schedule"].empty())
    return usage("--schedule needs a calendar");
  // The owner names a folder below the system directory.
  if (opts.count("--owner") && !vela::isSafeOwnerName(opts["--owner"]))
    return usage(vela::kOwnerRule);
  // Whatever the administrator's umask, nothing the builder makes (index
  // files, folders, the engine database) can be written by other accounts.
  umask(umask(0) | 022);
  // Like every program of the installation the builder works in the CGI
  // directory; with --root it moves there, after making the source folder
  // absolute.
  if (words.size() == 2) words[1] = std::filesystem::absolute(words[1]).string();
  std::string accessFile = opts["--access"];
  if (!accessFile.empty()) accessFile = std::filesystem::absolute(accessFile).string();
  const std::string kind = opts.count("--access-kind") ? opts["--access-kind"] : "builder";
  if (kind != "builder" && kind != "file") return usage("--access-kind is builder or file");
  // A malformed access file stops the run before anything is touched.
  std::string problem;
  if (!accessFile.empty() && !AccessRules().load(accessFile, problem)) {
    std::cerr << "index_builder: " << problem << "\n";
    return 1;
  }
  if (opts.count("--root") && chdir((opts["--root"] + "/search-cgi").c_str()) != 0)
    return usage("no CGI directory " + opts["--root"] + "/search-cgi");
  if (access("../setting/system_info.cfg", R_OK) != 0)
    return usage("run in ROOT/search-cgi or give --root ROOT");
  // A timed run writes to the journal: its notes and summary, never a
  // progress line.
  const bool timed = words[0] == "scheduled";
  vela::BuildReport report(std::cerr, isatty(2) == 1 && !timed,
                           opts.count("--quiet") > 0 && !timed);
  vela::BuildContext ctx{vela::CodePage(vela::installLanguage()), report, accessFile,
                         kind == "file" ? AclKind::kFile : AclKind::kBuilder};
  const std::string& cmd = words[0];
  std::string error, id = opts["--id"], mode = cmd;
  const time_t start = time(nullptr);
  int rc;
  if (cmd == "create" && words.size() == 2 && opts.count("--owner")) {
    vela::CreateRequest req{opts["--owner"], id,
                            opts["--desc"],  opts.count("--type") ? opts["--type"] : "doc",
                            words[1],        opts["--schedule"]};
    rc = vela::createIndex(ctx, req, id, error);
    if (rc == 0) std::cout << id << "\n";
  } else if (cmd == "update" && words.size() == 2 && !id.empty()) {
    rc = vela::updateIndex(ctx, id, words[1], error);
  } else if (cmd == "rebuild" && words.size() == 1 && !id.empty()) {
    rc = vela::rebuildIndex(ctx, id, error);
  } else if (cmd == "scheduled" && words.size() == 1 && !id.empty()) {
    vela::ScheduledRun outcome = vela::ScheduledRun::kUpdated;
    rc = vela::runScheduledUpdate(ctx, id, vela::rebuildIncLimitBytes(), outcome, error);
    if (rc == 0 && outcome == vela::ScheduledRun::kSkipped) {
      std::cerr << "index_builder: an update of " << id << " is already running\n";
      return 0;
    }
    mode = outcome == vela::ScheduledRun::kRebuilt ? "rebuild" : "update";
  } else if (cmd == "similar" && words.size() == 1) {
    rc = vela::buildSimilarTermIndex(ctx.cp, error) ? 0 : 1;
  } else {
    return usage("bad command line");
  }
  if (rc != 0) {
    report.note(error);
    return rc;
  }
  report.finish();
  if (cmd != "similar") recordBuild(id, mode, start);
  if (cmd != "similar" && !opts.count("--no-similar") &&
      !vela::buildSimilarTermIndex(ctx.cp, error)) {
    // The index itself is in place: searches work, only their suggestions
    // keep the words of before.
    std::cerr << "index_builder: the similar-term index keeps its old words: " << error << "\n";
  }
  return rc;
}
