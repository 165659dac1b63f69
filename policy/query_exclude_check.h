/// @file query_exclude_check.h
/// @brief The exclusion check of a query that has moved into its query term
/// file: the global list, then the index's own list, and the refused-query
/// token that makes the engine find nothing.

#ifndef SEARCHRUN_POLICY_QUERY_EXCLUDE_CHECK_H
#define SEARCHRUN_POLICY_QUERY_EXCLUDE_CHECK_H

#include <cstddef>
#include <string>

// The lists: one for the whole installation, one in each index home.
constexpr const char* kGlobalExcludeList = "../dict/global_query_exclude.token";
constexpr const char* kIndexExcludeList = "queryExclude.token";
// What a refused query is searched for; no index holds it.
constexpr const char* kRefusedQueryToken = "noitceleS_yreuQ_sihT_rof_dnuoF_gnihtoN_sraelC";
// Longest first line of the term file that is checked.
constexpr size_t kExcludeTermLineMax = 10240;

// Checks the first line of `termFile` against the global list and, while
// the run's query is still allowed, the list of `indexHome`. Japanese
// installations skip the check. Before matching, Chinese installations switch
// the character classes (LC_CTYPE) to their code page so that double-byte
// characters stay whole; on a host without such a locale a byte from 0x80 up
// leads a two-byte character. A list that cannot be read counts as empty.
//
// A refusal clears g_search_keyword_allowed; while that is 0 (now or from an
// earlier index of the run) the term file is overwritten with
// kRefusedQueryToken alone. Returns false, and the engine command must stay
// empty, when the term file cannot be read (the query then counts as refused)
// or cannot be written back; true otherwise, refused or not.
bool screenQueryTermFile(const std::string& indexHome, const std::string& termFile);

#endif  // SEARCHRUN_POLICY_QUERY_EXCLUDE_CHECK_H
