/// @file similar_terms.h
/// @brief The similar-term index of an installation, ROOT/similar_term,
/// from which the query program proposes words the user may have meant: one
/// record per word of the installation's indexes, its info line "@B:word",
/// the word its only term, used more often the more records of the
/// installation hold it (so the engine ranks common words of a spelling
/// first); and its synonym dictionary "dic.txt", one line per group of words
/// of the installation that share their stem, joined by "$"; and the
/// look-alike keys of its words (suggest_keys.h).

#ifndef SEARCHRUN_COMPANIONS_BUILDER_SIMILAR_TERMS_H
#define SEARCHRUN_COMPANIONS_BUILDER_SIMILAR_TERMS_H

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "companions/engine/codepage.h"

namespace vela {

// Most words the index holds (the most common ones).
constexpr size_t kMaxSimilarTerms = 200000;
// Most members of one synonym group.
constexpr size_t kMaxSynonymGroup = 8;

// Whether an index term is a word worth proposing: 3 to 40 characters,
// letters only (ASCII a-z or any non-ASCII character), no field prefix.
bool isProposableWord(std::string_view term);

// How often a word's record uses it, from the number of the installation's
// records that hold it: 1 + log2(df), at most 32.
uint32_t similarTermWdf(uint64_t df);

// The lines of dic.txt for words (UTF-8) and their record counts: words of
// the same English stem, two or more, most common first, at most
// kMaxSynonymGroup each; lines in the order of their first word.
std::vector<std::string> synonymGroups(const std::map<std::string, uint64_t>& words,
                                       const CodePage& cp);

// Builds the similar-term index anew from the indexes below the system
// directory and switches it in at INSTALL_DIRECTORY/similar_term. One
// builder at a time (the lock ROOT/.similar_term.lock); the staging
// directories of builders that are gone are removed first. False with a
// message on failure; the previous index then stays.
bool buildSimilarTermIndex(const CodePage& cp, std::string& error);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_SIMILAR_TERMS_H
