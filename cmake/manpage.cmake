# Writes the manual page velkorix.1 from the tool's own help texts with
# help2man: the top-level --help gives the synopsis, description and
# options, and every command's --help (and its subcommands', found in its
# usage lines) is added verbatim as a section of its own, so the page names
# exactly what the parser accepts.
#   cmake -DVELKORIX=path/to/velkorix -DHELP2MAN=path/to/help2man
#         -DOUTPUT=velkorix.1 -P manpage.cmake
foreach(var VELKORIX HELP2MAN OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "manpage.cmake needs -D${var}=...")
  endif()
endforeach()

function(help_of out)
  execute_process(COMMAND ${VELKORIX} ${ARGN} --help
    OUTPUT_VARIABLE text RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0)
    set(text "")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Help text as roff: no-fill, backslashes and leading dots and quotes escaped.
function(as_roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} ".nf\n${text}.fi\n" PARENT_SCOPE)
endfunction()

help_of(top)
if(top STREQUAL "")
  message(FATAL_ERROR "'${VELKORIX} --help' failed")
endif()
# The command table: "  name  summary" lines after "commands:".
string(REGEX MATCH "commands:\n(  [a-z0-9]+ +[^\n]*\n)+" table "${top}")
string(REGEX MATCHALL "\n  [a-z0-9]+ " names "${table}")

set(sections "[COMMANDS]\n")
foreach(name ${names})
  string(STRIP "${name}" name)
  help_of(help ${name})
  if(help STREQUAL "")
    message(FATAL_ERROR "'velkorix ${name} --help' failed")
  endif()
  as_roff(body "${help}")
  string(APPEND sections ".SS \"velkorix ${name}\"\n${body}")
  # Subcommands: "velkorix NAME SUB" in the usage lines, when SUB has a help
  # of its own.
  string(REGEX MATCHALL "velkorix ${name} [a-z][a-z0-9]*" uses "${help}")
  list(REMOVE_DUPLICATES uses)
  foreach(use ${uses})
    string(REPLACE "velkorix ${name} " "" sub "${use}")
    help_of(subhelp ${name} ${sub})
    if(NOT subhelp STREQUAL "" AND NOT subhelp STREQUAL help)
      as_roff(body "${subhelp}")
      string(APPEND sections ".SS \"velkorix ${name} ${sub}\"\n${body}")
    endif()
  endforeach()
endforeach()

string(APPEND sections "
[EXIT STATUS]
.TP
0
success
.TP
1
failure; nothing written (with several inputs: one of them failed)
.TP
2
usage error; nothing done
.TP
3
output written with a warning: the input ended early or held parts that
could not be decoded
.TP
130
interrupted; no partial output left

[SEE ALSO]
The README of the Velkorix project.
")

get_filename_component(dir "${OUTPUT}" DIRECTORY)
set(include "${dir}/velkorix.h2m")
file(WRITE "${include}" "${sections}")
execute_process(COMMAND ${HELP2MAN} --no-info --section 1
    --name "decode captured voice streams through the Velkorix decoder filter"
    --include "${include}" --output "${OUTPUT}.tmp" ${VELKORIX}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed (${status})")
endif()
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
