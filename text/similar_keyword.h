/// @file similar_keyword.h
/// @brief Similar keywords: words the user may have meant by a one-term
/// query, gathered by four passes into one list ordered by score.
///
///   homo     the engine, exact and by prefix (-B0 -P), over the similar-term
///            index (one record per word of the installation, its info line
///            "@B:word"): the words the query begins
///   synonym  the synonym dictionary (one group a line, members joined by
///            "$"): every member of the first group that has the query
///   fuzzy    the engine, fuzzy (-B), over the same index: words spelt alike
///   prefix   a bonus for every candidate that holds the query
/// Settings (key=value, "../setting/similar_keyword.cfg"): the weight of each
/// pass (0 or less turns it off), engine result and output limits, the
/// scores of the synonym and prefix passes and the least score written.

#ifndef SEARCHRUN_TEXT_SIMILAR_KEYWORD_H
#define SEARCHRUN_TEXT_SIMILAR_KEYWORD_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

constexpr const char* kSimilarKeywordCfgPath = "../setting/similar_keyword.cfg";
constexpr const char* kSimilarTermDir = "similar_term";
constexpr const char* kSimilarTermDictionary = "dic.txt";
constexpr const char* kSimilarKeywordEngine = "../binind/vela25_0.exe";

struct keyword {
  std::string name;
  double score = 0;
};

// Candidates in falling score. A name is held once: inserting it again adds
// to its score and moves it to its new place, which is before the first
// candidate scoring no more than it (so among equal scores the latest comes
// first).
class keyword_list {
 public:
  void insert(const std::string& name, double score);
  // Takes the candidate out; false when there is none of that name.
  bool extract_node(const std::string& name, keyword& out);
  bool del(const std::string& name);
  const keyword* search(const std::string& name) const;
  size_t count() const { return nodes_.size(); }
  // Null beyond the end.
  const keyword* at(size_t i) const { return i < nodes_.size() ? &nodes_[i] : nullptr; }
  // "name\t(score)" per line, score with one decimal.
  std::string show_all_element() const;

 private:
  std::vector<keyword> nodes_;
};

struct SimilarKeywordSettings {
  double homoWeight = 1.0;     // WEIGHT_HOMO_SEARCH
  double synonymWeight = 1.0;  // WEIGHT_SYNONYMY_SEARCH
  double fuzzyWeight = 1.0;    // WEIGHT_FUZZY_MATCH
  double prefixWeight = 1.0;   // WEIGHT_PREFIX_MATCH
  int engineLimit = 30;        // MAX_SIMILAR_KEYWORD_COUNT
  int outputLimit = 1;         // MAX_OUTPUT_KEYWORD_COUNT
  int synonymScore = 1000;     // SCORE_SYNONYMY_SEARCH
  int prefixScore = 2000;      // SCORE_PREFIX_MATCH
  double threshold = 1000;     // SCORE_THRESHOLD
};

// Applies the key=value lines of `text` to `s`; unknown keys and lines
// without "=" are ignored, numbers are read as atof / atoi read them.
void parseSimilarKeywordSettings(std::string_view text, SimilarKeywordSettings& s);

// The hits of an engine text result: its first two lines skipped, then
// "score recid" per line, at most `limit`; reading stops at a line that is
// not two numbers.
std::vector<std::pair<int, int>> readEngineTextResult(std::string_view text, int limit);

// The word of a record's info line: the text after "@B:" up to the line's
// end, or the whole line when it has no "@B:".
std::string wordOfInfoLine(const std::string& info);

// "A" to "Z" become "a" to "z"; double-byte characters of the installation's
// code page (`language`, layout.h) are stepped over whole.
void convert_buffer_to_lower_case(std::string& text, int language);

class similar_keyword {
 public:
  // Runs the engine with argv (argv[0] the program); true when it ended
  // with exit status 0.
  using EngineRun = std::function<bool(const std::vector<std::string>& argv)>;
  // The info lines of records of an engine index (system/recinfo.h).
  using InfoLookup = std::function<bool(const std::string& dir, const std::vector<int>& ids,
                                        std::vector<std::string>& lines)>;

  // `language` decides which bytes are double-byte characters.
  explicit similar_keyword(int language, int engineLimitMs = 60000);
  // The same with settings another one read (read_config_file), so that the
  // look-ups of one request read the settings file once.
  similar_keyword(int language, int engineLimitMs, const SimilarKeywordSettings& settings)
      : similar_keyword(language, engineLimitMs) {
    settings_ = settings;
  }

  // False when the file cannot be opened (the settings stay as they were).
  bool read_config_file(const char* path);
  // Sends the engine passes for `query` on their way ahead of search, so
  // that a service makes them while the caller does other work; search for
  // the same index and query takes their answers.
  void start(const std::string& indexDir, const std::string& query);
  // Runs the passes whose weight is above 0. Always true.
  bool search(const std::string& indexDir, const std::string& dictionary, const std::string& query);

  size_t count() const { return list_.count(); }
  // False beyond the end.
  bool data(size_t i, std::string& name, double& score) const;
  int get_output_max_count() const { return settings_.outputLimit; }
  double get_score_threshold() const { return settings_.threshold; }
  const SimilarKeywordSettings& settings() const { return settings_; }
  std::string show_all_element() const { return list_.show_all_element(); }

  // Seams for tests.
  void setEngineRun(EngineRun run) { engineRun_ = std::move(run); }
  void setInfoLookup(InfoLookup lookup) { infoLookup_ = std::move(lookup); }

 private:
  // One engine pass: its scratch result (empty: the pass does not run) and
  // its words.
  struct EnginePass {
    EnginePass() = default;
    EnginePass(const EnginePass&) = delete;
    EnginePass& operator=(const EnginePass&) = delete;
    ~EnginePass();  // removes the scratch result
    std::string result;
    std::vector<std::string> argv;
    int limit = 0;
    int limitMs = 0;  // of the engine run
  };
  void planEnginePass(const std::string& indexDir, const std::string& query, bool fuzzy,
                      EnginePass& pass);
  // The hits (score, record) of a pass; none when it does not run or fails.
  std::vector<std::pair<int, int>> passHits(const EnginePass& pass);
  // The words of the records of `hits`, one per hit; false when any cannot
  // be read.
  bool wordsOf(const std::string& indexDir, const std::vector<std::pair<int, int>>& hits,
               std::vector<std::string>& words);
  void addWords(const std::vector<std::pair<int, int>>& hits, const std::vector<std::string>& words,
                double weight);
  void synonymPass(const std::string& dictionary, const std::string& query);
  void prefixPass(const std::string& query);

  // The engine passes sent by start, for startedDir_ and startedQuery_.
  std::unique_ptr<EnginePass> homo_, fuzzy_;
  std::string startedDir_, startedQuery_;
  int language_;
  int engineLimitMs_;
  SimilarKeywordSettings settings_;
  keyword_list list_;
  EngineRun engineRun_;
  InfoLookup infoLookup_;
};

#endif  // SEARCHRUN_TEXT_SIMILAR_KEYWORD_H
