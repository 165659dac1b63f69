/// @file text_fold.h
/// @brief The engine's names for the words of a text: folding and the split
/// into index terms are the document-text library's (words.h), which the
/// index builder and the renderer use too.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_TEXT_FOLD_H
#define SEARCHRUN_COMPANIONS_ENGINE_TEXT_FOLD_H

#include "companions/doctext/words.h"

namespace vela {

using doctext::foldText;
using doctext::indexTerms;
using doctext::isCjk;
using doctext::kMaxTermBytes;
using doctext::PositionedTerm;
using doctext::TextToken;
using doctext::tokenize;

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_TEXT_FOLD_H
