# Fails when a source file includes a header of a folder it may not depend
# on. The allowed edges (and what they imply) are the architecture:
#   programs -> front -> {policy, assemble, output, search, access, text, cgi}
#   -> system;  policy -> {assemble, search, access, text};  assemble -> search;
#   cgi -> text;  companions -> anything but programs;  nothing but companions
#   and tests -> companions.
# Inside companions/, a folder listed below may include only the companion
# folders listed for it, and nothing of the front: the agent serves other
# hosts with the same policy as the front, not through it. The engine and
# its service never include the builder (their tests may).
#
#   cmake -DSOURCE_DIR=<repository> -P check_includes.cmake
# Prints every wrong-way include and their count; exits non-zero on any.

cmake_minimum_required(VERSION 3.20)

set(allowed_system "")
set(allowed_text system)
set(allowed_search system)
set(allowed_access system)
set(allowed_output system)
set(allowed_cgi system text)
set(allowed_assemble search system)
set(allowed_policy assemble search access text system)
set(allowed_front policy assemble output search access text cgi system)
set(allowed_programs front policy assemble output search access text cgi system)
set(allowed_companions front policy assemble output search access text cgi system companions)
set(folders system text search access output cgi assemble policy front programs companions)

set(companion_rules agent doctext records)
set(companions_agent agent records doctext serve)
set(companions_doctext doctext)
set(companions_records records doctext)

set(wrong 0)
foreach(folder ${folders})
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cc"
       "${SOURCE_DIR}/${folder}/*.in")
  foreach(source ${sources})
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"/]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"/]+)/.*" "\\1" target "${line}")
      if(folder STREQUAL "companions")
        string(REGEX REPLACE "^${SOURCE_DIR}/companions/([^/]+)/.*" "\\1" sub "${source}")
        if(sub IN_LIST companion_rules)
          string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"companions/([^\"/]+)/.*" "\\1"
                 companion "${line}")
          if((target STREQUAL "companions" AND NOT companion IN_LIST companions_${sub})
             OR target STREQUAL "front")
            file(RELATIVE_PATH rel "${SOURCE_DIR}" "${source}")
            message("wrong-way include: ${rel}: ${line}")
            math(EXPR wrong "${wrong} + 1")
            continue()
          endif()
        endif()
      endif()
      if(target STREQUAL folder)
        continue()
      endif()
      list(FIND allowed_${folder} "${target}" found)
      if(found EQUAL -1 AND target IN_LIST folders)
        file(RELATIVE_PATH rel "${SOURCE_DIR}" "${source}")
        message("wrong-way include: ${rel}: ${line}")
        math(EXPR wrong "${wrong} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()
# The engine reads what the builder writes and must run without it.
foreach(folder engine engine_service)
  file(GLOB sources "${SOURCE_DIR}/companions/${folder}/*.h" "${SOURCE_DIR}/companions/${folder}/*.cc")
  foreach(source ${sources})
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"companions/builder/")
    foreach(line ${includes})
      file(RELATIVE_PATH rel "${SOURCE_DIR}" "${source}")
      message("wrong-way include: ${rel}: ${line}")
      math(EXPR wrong "${wrong} + 1")
    endforeach()
  endforeach()
endforeach()
message("${wrong} wrong-way includes")
if(wrong GREATER 0)
  message(FATAL_ERROR "the layering does not hold")
endif()
