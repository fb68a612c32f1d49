# tolvane_add_catalogue(): builds an MSG catalogue and its names header as part
# of a project's build.
#
#   tolvane_add_catalogue(<target>
#     OUTPUT <file.MSG>                 # relative: to CMAKE_CURRENT_BINARY_DIR
#     NAMES_HEADER <names.h>            # relative: to CMAKE_CURRENT_BINARY_DIR
#     SOURCES <first.h> [<more.h>...]   # relative: to CMAKE_CURRENT_SOURCE_DIR
#     [WARNINGS_AS_ERRORS])             # a source's warnings fail the build (-W)
#
# <target> is an interface library: linking it puts the names header's folder
# on the include path and builds the catalogue first. Its properties
# TOLVANE_CATALOGUE and TOLVANE_NAMES_HEADER hold the two files' full paths
# (for install() rules, for instance).
#
# One build rule owns both files. It runs Tolvane on the sources in the given
# order (the first one with -c) in a private folder of the build tree, starting
# from nothing each time, so a run never sees files of an earlier one and two
# catalogues never share Tolvane's work files. The catalogue is then moved into
# place, and the names header copied only when its content changed: a text edit
# rebuilds the catalogue but recompiles nothing that includes the header.
#
# The tool is the imported Tolvane::Tolvane of an installed package, or the
# Tolvane target of a build that brought Tolvane in with add_subdirectory().

include_guard(GLOBAL)

# Paths already claimed by a catalogue rule, so that two rules never write one
# file (which Ninja refuses and Make races on).
function(_tolvane_claim path what target)
  get_property(owner GLOBAL PROPERTY "_TOLVANE_CLAIM:${path}")
  if(owner)
    message(FATAL_ERROR "tolvane_add_catalogue(${target}): ${what} \"${path}\" is already "
                        "written by ${owner}; each file can have only one catalogue rule.")
  endif()
  set_property(GLOBAL PROPERTY "_TOLVANE_CLAIM:${path}" "tolvane_add_catalogue(${target})")
endfunction()

# Generated files belong to the build tree; a rule that wrote into the sources
# would dirty checkouts and race between build trees.
function(_tolvane_check_in_build_tree path what target)
  cmake_path(IS_PREFIX CMAKE_BINARY_DIR "${path}" NORMALIZE in_build)
  cmake_path(IS_PREFIX CMAKE_SOURCE_DIR "${path}" NORMALIZE in_source)
  if(in_source AND NOT in_build)
    message(FATAL_ERROR "tolvane_add_catalogue(${target}): ${what} \"${path}\" is in the "
                        "source tree; generated files go to the build tree.")
  endif()
endfunction()

function(tolvane_add_catalogue target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "WARNINGS_AS_ERRORS" "OUTPUT;NAMES_HEADER" "SOURCES")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR
            "tolvane_add_catalogue(${target}): unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  foreach(required OUTPUT NAMES_HEADER SOURCES)
    if(NOT arg_${required})
      message(FATAL_ERROR "tolvane_add_catalogue(${target}): ${required} is required")
    endif()
  endforeach()
  if(TARGET Tolvane::Tolvane)
    set(tool Tolvane::Tolvane)
  else()
    message(FATAL_ERROR "tolvane_add_catalogue(${target}): no Tolvane::Tolvane; call "
                        "find_package(Tolvane) or add Tolvane with add_subdirectory() first")
  endif()

  cmake_path(ABSOLUTE_PATH arg_OUTPUT BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
             NORMALIZE OUTPUT_VARIABLE output)
  cmake_path(ABSOLUTE_PATH arg_NAMES_HEADER BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
             NORMALIZE OUTPUT_VARIABLE names)
  cmake_path(GET output FILENAME output_name)
  cmake_path(GET names FILENAME names_name)
  cmake_path(GET names PARENT_PATH names_dir)
  string(TOUPPER "${output_name}" output_upper)
  if(NOT output_upper MATCHES "\\.MSG")
    message(FATAL_ERROR "tolvane_add_catalogue(${target}): OUTPUT \"${output}\" must be "
                        "named <something>.MSG (any case)")
  endif()
  if(output STREQUAL names)
    message(FATAL_ERROR "tolvane_add_catalogue(${target}): OUTPUT and NAMES_HEADER are "
                        "the same file \"${output}\"")
  endif()
  _tolvane_check_in_build_tree("${output}" OUTPUT ${target})
  _tolvane_check_in_build_tree("${names}" NAMES_HEADER ${target})
  _tolvane_claim("${output}" OUTPUT ${target})
  _tolvane_claim("${names}" NAMES_HEADER ${target})

  set(sources)
  foreach(source IN LISTS arg_SOURCES)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
    cmake_path(GET source FILENAME source_name)
    # Tolvane takes only sources whose name says they are headers.
    if(NOT source_name MATCHES "\\.h")
      message(FATAL_ERROR "tolvane_add_catalogue(${target}): source \"${source}\" must be "
                          "named <something>.h")
    endif()
    # A missing source would otherwise surface only at build time, as a rule
    # with no way to make its input. A source another rule generates is fine.
    get_source_file_property(generated "${source}" GENERATED)
    if(IS_DIRECTORY "${source}" OR (NOT EXISTS "${source}" AND NOT generated))
      message(FATAL_ERROR "tolvane_add_catalogue(${target}): source \"${source}\" does not "
                          "exist")
    endif()
    list(APPEND sources "${source}")
  endforeach()

  # What the build step needs besides the tool, written only when it changes
  # so that the step reruns when the list of sources does.
  set(work_dir "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}.tolvane")
  set(settings "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}.tolvane.cmake")
  set(warnings_as_errors ${arg_WARNINGS_AS_ERRORS})
  set(content "")
  # Make knows only the rule's first output: it would never rerun the rule for
  # a names header that went missing. A dependency file written by the rule
  # makes the catalogue depend on the names header, so a missing one is
  # rebuilt; Ninja reruns the rule for a missing byproduct by itself.
  set(depfile "")
  if(CMAKE_GENERATOR MATCHES "Makefiles")
    set(depfile "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}.tolvane.d")
  endif()
  foreach(var IN ITEMS work_dir output names sources warnings_as_errors depfile)
    string(APPEND content "set(TOLVANE_${var} [==[${${var}}]==])\n")
  endforeach()
  set(previous "")
  if(EXISTS "${settings}")
    file(READ "${settings}" previous)
  endif()
  if(NOT previous STREQUAL content)
    file(WRITE "${settings}" "${content}")
  endif()

  # Beside this file, wherever the function is called from.
  set(script "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/TolvaneBuildCatalogue.cmake")
  list(LENGTH sources count)
  cmake_path(RELATIVE_PATH output BASE_DIRECTORY "${CMAKE_BINARY_DIR}" OUTPUT_VARIABLE shown)
  set(depfile_option "")
  if(depfile)
    set(depfile_option DEPFILE "${depfile}")
  endif()
  add_custom_command(
    OUTPUT "${output}"
    BYPRODUCTS "${names}"
    COMMAND "${CMAKE_COMMAND}" "-DTOLVANE_TOOL=$<TARGET_FILE:${tool}>"
            "-DTOLVANE_SETTINGS=${settings}" -P "${script}"
    DEPENDS ${tool} "$<TARGET_FILE:${tool}>" ${sources} "${settings}"
            "${script}"
    COMMENT "Building message catalogue ${shown} from ${count} sources"
    ${depfile_option}
    VERBATIM)

  add_library(${target} INTERFACE "${output}" "${names}")
  target_include_directories(${target} INTERFACE "${names_dir}")
  set_target_properties(${target} PROPERTIES
    TOLVANE_CATALOGUE "${output}"
    TOLVANE_NAMES_HEADER "${names}")
endfunction()
