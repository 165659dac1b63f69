/// @file protocol_delimiter.cc
/// @brief The check of texts that go into commands and requests. Apart from
/// the command builders: the searches of every edition check their texts,
/// while only the full edition builds server commands.

#include <initializer_list>

#include "system/delimiters.h"
#include "system/server_protocol.h"

bool hasProtocolDelimiter(std::string_view text) {
  const std::string_view parameter(kParameterDelim, kDelimSize);
  for (std::string_view d :
       {kCommandWordView, parameter, kFieldView, kGroupEndView, kCommandEndView}) {
    if (text.find(d) != std::string_view::npos) return true;
  }
  return false;
}
