# The threaded editions leave whole subsystems out: none of their symbols may
# be linked in, not even through an object they share with held code.
# Each marker below ("part#pattern") is a symbol (nm -C, defined in the
# program) that only the left-out code defines. The full edition, which holds them all, must define
# every marker: a renamed symbol fails here instead of passing unnoticed.
#
# cmake -DNM=<nm> -DFULL=<searchrun> -DEDITIONS=<a;b;c> -P check_edition_symbols.cmake

set(_markers
  "query exclusion list#ExclusionList::"
  "remote index information#get_remote_index_info\\("
  "server command protocol#protocolGetIndexListByClass(Name|ID)\\("
  "server command protocol#splitProtocolCommand\\("
  "index id files#IndexIdFileMgr::"
  "column mapping#ColumnMapping::"
  "column mapping#columnMappingSortColumn\\("
  "similar keywords#similar_keyword::"
  "similar-document query#SimilarDocGetQueryString\\("
  "record term dictionary#RecordTerm::"
  "pattern matcher#Regexp::"
  "cookie permits#KS_CookiePermitCheck\\("
  "full edition's version block#verifyProgramVersion\\(")
# Left out of the editions, and of the full edition too (its companions hold
# them).
set(_markers_elsewhere
  "build status collection#CCollectBuildStatus::")

function(defined_symbols program out)
  execute_process(COMMAND ${NM} -C --defined-only ${program}
                  OUTPUT_VARIABLE _text RESULT_VARIABLE _rc ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${program}: ${_err}")
  endif()
  set(${out} "${_text}" PARENT_SCOPE)
endfunction()

set(_failed FALSE)
defined_symbols(${FULL} _full)
foreach(marker ${_markers})
  string(REGEX REPLACE "^[^#]*#" "" _pattern "${marker}")
  if(NOT _full MATCHES "${_pattern}")
    message(SEND_ERROR "marker ${_pattern} is not in ${FULL}: the marker list is stale")
    set(_failed TRUE)
  endif()
endforeach()

foreach(edition ${EDITIONS})
  defined_symbols(${edition} _symbols)
  foreach(marker ${_markers} ${_markers_elsewhere})
    string(REGEX REPLACE "#.*$" "" _part "${marker}")
    string(REGEX REPLACE "^[^#]*#" "" _pattern "${marker}")
    if(_symbols MATCHES "${_pattern}")
      message(SEND_ERROR "${edition} holds the ${_part}: ${CMAKE_MATCH_0}")
      set(_failed TRUE)
    endif()
  endforeach()
endforeach()

if(_failed)
  message(FATAL_ERROR "edition symbol check failed")
endif()
message(STATUS "editions hold none of the left-out parts: ${EDITIONS}")
