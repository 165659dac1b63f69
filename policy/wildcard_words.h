/// @file wildcard_words.h
/// @brief The wildcard count of a query that MAX_WILDCARD_TERMS bounds
/// (system/run_limits.h): refused here, such a query never costs the engine
/// its walks over the words of every index.

#ifndef SEARCHRUN_POLICY_WILDCARD_WORDS_H
#define SEARCHRUN_POLICY_WILDCARD_WORDS_H

// The number of wildcard words of `query` as the engine programs count them:
// words are separated by blanks (control characters and the full-width space
// included) and the operators & + | , - ( ); a word counts when it holds "*"
// or "?"; text between double quotes is a phrase, whose wildcards are plain
// characters. Double-byte characters of the installation's code page
// (`language`) are skipped whole.
int countWildcardWords(const char* query, int language);

#endif  // SEARCHRUN_POLICY_WILDCARD_WORDS_H
