/// @file related_terms.h
/// @brief The related terms of one index of this host for a list of its
/// record ids, as the agent hands them to another host: the related-term
/// tool runs over the org index and the inc index, and its lines become
/// the terms.

#ifndef SEARCHRUN_COMPANIONS_AGENT_RELATED_TERMS_H
#define SEARCHRUN_COMPANIONS_AGENT_RELATED_TERMS_H

#include <cstdint>
#include <string>
#include <vector>

namespace agent {

// The tool, relative to the CGI directory. It writes the terms typical of
// the records named after "-n", one per line, into the file named by "-o".
constexpr const char* kRelTermTool = "../search-cgi/search_relterm.exe";

// The part of one index (owner and name already checked, own_index.h) for
// the record ids `ids` in merged numbering (org ids, then inc ids shifted by
// the org record count): each term followed by F, and E at the end. The
// part is E alone when the tool is not installed, when it fails or writes
// nothing, or when ids name an inc index that has no records. Each run of
// the tool may take `timeLimitMs`. Terms holding a control byte (they could
// hold a delimiter) are left out.
std::string relatedTermsOf(const std::string& owner, const std::string& index,
                           const std::vector<uint32_t>& ids, int timeLimitMs);

}  // namespace agent

#endif  // SEARCHRUN_COMPANIONS_AGENT_RELATED_TERMS_H
