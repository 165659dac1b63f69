/// @file run_state.cc
/// @brief Putting the text library's process-wide state back between runs.

#include "text/run_state.h"

#include <algorithm>
#include <iterator>

#include "text/charset_converter.h"
#include "text/charset_encoding.h"
#include "text/jp_conv.h"
#include "text/jp_detect.h"

// Weak: a program without the charset engine (the editions that leave it
// out) or without the form detection holds none of their code, and
// resetting them must not link it in; there they are null.
[[gnu::weak]] void resetCharsetConverterState();
[[gnu::weak]] void resetCharsetEncodingState();
[[gnu::weak]] void resetJPCodeCounts();

void resetTextRunState() {
  // Empty, as before the first rebuild: which digits were widened is the
  // previous run's choice.
  std::fill(std::begin(g_code_type), std::end(g_code_type), 0u);
  if (resetJPCodeCounts != nullptr) resetJPCodeCounts();
  if (resetCharsetConverterState != nullptr) resetCharsetConverterState();
  if (resetCharsetEncodingState != nullptr) resetCharsetEncodingState();
}
