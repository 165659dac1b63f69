/// @file record_term_rules.h
/// @brief The terms that characterise a record and their weights: what the
/// builder keeps in an index's record term dictionary (text/record_term.h)
/// and what the related-term tool takes from it.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_RECORD_TERM_RULES_H
#define SEARCHRUN_COMPANIONS_ENGINE_RECORD_TERM_RULES_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vela {

// Characters of a UTF-8 text.
size_t utf8Length(std::string_view s);

// Whether an index term can stand for a record: a word or CJK pair of at
// least two characters (three for ASCII words) that is not a number alone,
// no common English word ("the", "which") and carries no field prefix (an
// upper-case ASCII letter first).
bool isCharacteristicTerm(std::string_view term);

// The weight of a term used `wdf` times by a record, held by `df` of `docs`
// records: ten times (1 + ln wdf) * ln(1 + docs / df), rounded; at least 1.
int32_t recordTermWeight(uint32_t wdf, uint32_t df, uint32_t docs);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_RECORD_TERM_RULES_H
