# The training of an instrumented Tolvane (TolvanePgo.cmake): it builds a
# catalogue the way a project does, source by source, from sample sources
# made here and the bundled examples, and leaves the counts of those runs in
# PROFILE. Runs of one source each, on one thread: the same counts every
# time, and so the same program from the same sources.
#   cmake -DTOLVANE=<program> -DPROFILE=<dir> -DWORK=<dir> -DEXAMPLES=<dir>
#         -P pgo_train.cmake
foreach(variable TOLVANE PROFILE WORK EXAMPLES)
  if(NOT ${variable})
    message(FATAL_ERROR "pgo_train.cmake needs -D${variable}=...")
  endif()
endforeach()

# Counts add up over runs: those of an earlier program would not match it.
file(REMOVE_RECURSE ${PROFILE} ${WORK})
file(MAKE_DIRECTORY ${WORK})

# Texts of the kinds sources hold: plain, with escapes and format
# specifiers, long; in UNICODE sources, each character as \x00\xHH.
set(shapes
  "Plain message @ID@ of the @LANG@ table."
  "File @ID@ is open\\n; save it now? \\\"Yes\\\"\\tor \\\"No\\\""
  "Copied %d of %s files (@ID@)\\r\\n\\101\\102\\x43 done"
  "A longer text, number @ID@, of the kind a dialog shows: it goes on, with commas, and stops.")
function(make_source lang coding first count)
  set(lines "// #LANGUAGE ${lang}\n// #FONFILE FONT_${lang}\n// #MSGCODING ${coding}\n")
  string(APPEND lines "// #FILETYPE 1\n// #APPLITYPE 2a\n")
  math(EXPR last "${first} + ${count} - 1")
  foreach(id RANGE ${first} ${last})
    math(EXPR shape "${id} % 4")
    list(GET shapes ${shape} text)
    string(REPLACE "@ID@" "${id}" text "${text}")
    string(REPLACE "@LANG@" "${lang}" text "${text}")
    if(coding STREQUAL "UNICODE")
      string(HEX "${text}" hex)
      string(REGEX REPLACE "(..)" "\\\\x00\\\\x\\1" text "${hex}")
    endif()
    string(APPEND lines "#message ${id} MSG_${id} \"${text}\"\n")
  endforeach()
  file(WRITE ${WORK}/${lang}.h "${lines}")
endfunction()

make_source(EN ISO8859 1 1500)
make_source(DE ISO8859 1 1500)
make_source(FR ISO8859 200 1500)
make_source(JA UNICODE 1 1500)
make_source(RU UNICODE 300 1500)
file(COPY ${EXAMPLES}/messages_en.h ${EXAMPLES}/messages_fr.h DESTINATION ${WORK})

# A catalogue built source by source, its names header merged each time,
# then a table replaced; and the bundled examples.
set(runs
  "-c|-tEN.h|-happ_names.h|app.MSG"
  "-tDE.h|-happ_names.h|app.MSG"
  "-tFR.h|-happ_names.h|app.MSG"
  "-tJA.h|-happ_names.h|app.MSG"
  "-tRU.h|-happ_names.h|app.MSG"
  "-r|-tDE.h|-happ_names.h|app.MSG"
  "-c|-tmessages_en.h|-hexample_names.h|example.MSG"
  "-tmessages_fr.h|-hexample_names.h|example.MSG")
foreach(run ${runs})
  string(REPLACE "|" ";" arguments "${run}")
  execute_process(COMMAND ${TOLVANE} ${arguments} WORKING_DIRECTORY ${WORK}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "training run Tolvane ${arguments} failed (${result}):\n${output}")
  endif()
endforeach()

# A program built without its counters would leave none, and the build
# proper would go on without a profile, unnoticed.
file(GLOB counts ${PROFILE}/*.gcda)
if(NOT counts)
  message(FATAL_ERROR "the training runs left no counts in ${PROFILE}")
endif()
