/// @file remote_similar_doc.h
/// @brief A similar-document link to a record of another host: the terms it
/// stands for are that host's (its record term dictionary), asked of its
/// agent for the user who searches, who must be allowed to see the record.

#ifndef SEARCHRUN_FRONT_REMOTE_SIMILAR_DOC_H
#define SEARCHRUN_FRONT_REMOTE_SIMILAR_DOC_H

#include <optional>
#include <string>

#include "system/vela_search_list.h"
#include "text/similar_doc.h"

// The term list of the record `marker` names when its index is a selected
// index of another host and no selected index of this host has that name
// (this host's own records come first): asked of that host's agent (a
// listed one only) for `user` (unset: nobody, who sees what everyone may
// read). False when there is no such index, the agent cannot be asked or
// gives no terms (the record is not shown to that user, it has none, or the
// agent is older), or the terms would not fit in `capacity` - 1 bytes or
// hold anything but plain term text (a control byte or a quote).
bool remoteSimilarDocTerms(const SimilarDocMarker& marker, const VelaSearchListVector& selected,
                           const std::optional<std::string>& user, size_t capacity,
                           std::string& terms);

#endif  // SEARCHRUN_FRONT_REMOTE_SIMILAR_DOC_H
