# The build step behind tolvane_add_catalogue(), run with
#   cmake -DTOLVANE_TOOL=<Tolvane> -DTOLVANE_SETTINGS=<file> -P TolvaneBuildCatalogue.cmake
# The settings file gives TOLVANE_work_dir, TOLVANE_output, TOLVANE_names,
# TOLVANE_sources, TOLVANE_warnings_as_errors (TRUE for -W) and TOLVANE_depfile
# (empty unless the generator needs one).
cmake_minimum_required(VERSION 3.25)

if(NOT TOLVANE_TOOL OR NOT EXISTS "${TOLVANE_SETTINGS}")
  message(FATAL_ERROR "run as: cmake -DTOLVANE_TOOL=<Tolvane> -DTOLVANE_SETTINGS=<file> -P ${CMAKE_CURRENT_LIST_FILE}")
endif()
include("${TOLVANE_SETTINGS}")

# A fresh folder each time: no names header of an earlier build is merged and
# no work file of an interrupted one is in the way. Tolvane keeps its names
# backup in the current folder, so each catalogue needs a folder of its own.
file(REMOVE_RECURSE "${TOLVANE_work_dir}")
file(MAKE_DIRECTORY "${TOLVANE_work_dir}")
cmake_path(GET TOLVANE_output FILENAME msg)
cmake_path(GET TOLVANE_names FILENAME names)

# Tolvane pauses for a key after a usage error when its input is a terminal;
# -b (batch) and no input make sure a build never waits for one.
if(CMAKE_HOST_WIN32)
  set(no_input NUL)
else()
  set(no_input /dev/null)
endif()

set(warnings "")
if(TOLVANE_warnings_as_errors)
  set(warnings -W)
endif()
# Every source in one run, from a list beside the work files: one pass over
# each source, however many there are.
set(list "${TOLVANE_work_dir}/sources.lst")
list(JOIN TOLVANE_sources "\n" lines)
file(WRITE "${list}" "${lines}\n")
execute_process(
  COMMAND "${TOLVANE_TOOL}" -b -c ${warnings} "-l${list}" "-h${names}" "${msg}"
  WORKING_DIRECTORY "${TOLVANE_work_dir}"
  INPUT_FILE "${no_input}"
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${out}${err}Tolvane failed (${result}) on the sources listed in ${list}")
endif()
# A build that went through still shows the sources' warnings.
if(NOT err STREQUAL "")
  string(STRIP "${err}" err)
  message(NOTICE "${err}")
endif()

# Files that include the names header are recompiled only when it changed.
cmake_path(GET TOLVANE_names PARENT_PATH names_dir)
file(MAKE_DIRECTORY "${names_dir}")
file(COPY_FILE "${TOLVANE_work_dir}/${names}" "${TOLVANE_names}" ONLY_IF_DIFFERENT)

# For Make: the catalogue depends on the names header, so that the rule runs
# again when the header goes missing. Paths are spelt as a dependency file
# spells them: blanks and '#' escaped, '$' doubled.
function(_tolvane_depfile_path path out)
  string(REPLACE "$" "$$" path "${path}")
  string(REGEX REPLACE "([ #])" "\\\\\\1" path "${path}")
  set(${out} "${path}" PARENT_SCOPE)
endfunction()
if(TOLVANE_depfile)
  _tolvane_depfile_path("${TOLVANE_output}" target)
  _tolvane_depfile_path("${TOLVANE_names}" prerequisite)
  file(WRITE "${TOLVANE_depfile}" "${target}: ${prerequisite}\n")
endif()

# The catalogue is always new, and newer than the names header (which Make
# sees as its input), so the build tool sees it up to date.
cmake_path(GET TOLVANE_output PARENT_PATH output_dir)
file(MAKE_DIRECTORY "${output_dir}")
file(RENAME "${TOLVANE_work_dir}/${msg}" "${TOLVANE_output}" RESULT moved)
if(NOT moved EQUAL 0)
  file(COPY_FILE "${TOLVANE_work_dir}/${msg}" "${TOLVANE_output}")
endif()
file(TOUCH_NOCREATE "${TOLVANE_output}")
