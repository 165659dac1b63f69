/// @file search_again.h
/// @brief The search form that message pages carry, so that a user can
/// correct the query and search again from any page of the run.

#ifndef SEARCHRUN_FRONT_SEARCH_AGAIN_H
#define SEARCHRUN_FRONT_SEARCH_AGAIN_H

#include <string>
#include <vector>

class CGIStringParser;

// What the form of a page that refuses a variable leaves out of the
// request, so that submitting it does not send the same fault again.
struct FormOmissions {
  std::vector<std::string> names;  // variables left out entirely
  int indexIdsKept = -1;           // at most this many "index_id" (-1: all)
};

// The form: the query as typed (HTML-escaped), the request's user, indexes
// and options as hidden fields ("user", every "index_id", "search_no",
// "sort", "order", "no_rec", "match", "chinese", "thesaurus"; never the
// permit key, which travels as a cookie), a labelled search box, and a link
// back to the search page. Submitting it sends the same request with the new
// query, less what `omit` names.
std::string searchAgainForm(const CGIStringParser& request, const std::string& query,
                            const FormOmissions& omit = {});

// The name of the installation's code page as pages declare it: "Big5" (0),
// "Shift_JIS" (1), "GBK" (2), "UTF-8" otherwise.
const char* pageCharsetName(int language);

// The language of the installation's pages as an HTML lang code: "zh-Hant"
// (0), "ja" (1), "zh-Hans" (2), "en" otherwise.
const char* pageLanguageCode(int language);

#endif  // SEARCHRUN_FRONT_SEARCH_AGAIN_H
