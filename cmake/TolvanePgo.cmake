# Release builds of Tolvane are optimized with a profile of its own runs: a
# first build, instrumented, runs over sample sources (pgo_train.cmake), and
# the build proper compiles with the counts those runs left. The compiler
# then knows which paths of a source's reading are hot, inlines and lays them
# out for it: a list run takes 8 to 10 per cent less time. GCC only (Clang's
# counts need a tool of their own to be read), and only where the build can
# run what it builds.
# The training build below is configured with TOLVANE_PGO_PHASE=generate and
# TOLVANE_PGO_PROFILE, where it leaves its counts.
option(TOLVANE_PGO "Optimize Release builds of Tolvane with a profile of training runs"
  ${PROJECT_IS_TOP_LEVEL})

# What Tolvane is built from: the rest of the build compiles as usual.
set(tolvane_pgo_targets tolvane_platform tolvane_msgfile tolvane_transaction tolvane_source
  tolvane_names tolvane_driver Tolvane)

# The counts are kept per object, under its path in the build tree: both
# builds name them from their own tree down, so that they meet. The training
# build also includes the headers through this build's include roots: the
# compiler checks a function's counts against the file it was read from.
if(TOLVANE_PGO_PHASE STREQUAL "generate")
  foreach(target ${tolvane_pgo_targets})
    target_compile_options(${target} PRIVATE -fprofile-generate=${TOLVANE_PGO_PROFILE}
      -fprofile-prefix-path=${PROJECT_BINARY_DIR}
      -fprofile-update=atomic)
  endforeach()
  target_link_options(Tolvane PRIVATE -fprofile-generate)
  return()
endif()

if(NOT TOLVANE_PGO OR NOT CMAKE_BUILD_TYPE STREQUAL "Release" OR
   NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR CMAKE_CROSSCOMPILING OR WIN32 OR TOLVANE_SANITIZE)
  return()
endif()
include(CheckCXXCompilerFlag)
check_cxx_compiler_flag("-fprofile-prefix-path=/ -fprofile-partial-training -fprofile-update=atomic"
  tolvane_pgo_flags_supported)
if(NOT tolvane_pgo_flags_supported)
  message(STATUS "Tolvane: this GCC is too old for the profile-guided build (GCC 11 or later)")
  return()
endif()

include(ExternalProject)
set(tolvane_pgo_dir ${PROJECT_BINARY_DIR}/pgo)
set(tolvane_pgo_program ${tolvane_pgo_dir}/build/Tolvane)
set(tolvane_pgo_passed_on)
foreach(variable CMAKE_CXX_COMPILER CMAKE_CXX_FLAGS
    CMAKE_CXX_FLAGS_RELEASE CMAKE_EXE_LINKER_FLAGS CMAKE_INTERPROCEDURAL_OPTIMIZATION
    CMAKE_INTERPROCEDURAL_OPTIMIZATION_RELEASE CMAKE_MAKE_PROGRAM)
  if(DEFINED ${variable})
    list(APPEND tolvane_pgo_passed_on "-D${variable}=${${variable}}")
  endif()
endforeach()
# Only its Tolvane is built; the build runs it every time, and it rebuilds
# what changed, as any build does. Under Make it shares the jobs make was
# given.
if(CMAKE_GENERATOR MATCHES "Makefiles")
  set(tolvane_pgo_build_command $(MAKE) Tolvane)
else()
  set(tolvane_pgo_build_command ${CMAKE_COMMAND} --build <BINARY_DIR> --target Tolvane)
endif()
ExternalProject_Add(tolvane_pgo_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${tolvane_pgo_dir}/build
  CMAKE_GENERATOR ${CMAKE_GENERATOR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DTOLVANE_TESTS=OFF -DTOLVANE_INSTALL=OFF
    -DTOLVANE_PGO=OFF -DTOLVANE_PGO_PHASE=generate -DTOLVANE_PGO_PROFILE=${tolvane_pgo_dir}/profile
    -DTOLVANE_LAYERS_DIR=${TOLVANE_LAYERS_DIR}
    ${tolvane_pgo_passed_on}
  BUILD_COMMAND ${tolvane_pgo_build_command}
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${tolvane_pgo_program}
  INSTALL_COMMAND ""
  EXCLUDE_FROM_ALL ON)
# A new instrumented program is trained afresh: the counts of its runs
# replace the last ones, so that they match the sources compiled with them.
add_custom_command(OUTPUT ${tolvane_pgo_dir}/profile.stamp
  COMMAND ${CMAKE_COMMAND} -DTOLVANE=${tolvane_pgo_program} -DPROFILE=${tolvane_pgo_dir}/profile
          -DWORK=${tolvane_pgo_dir}/train -DEXAMPLES=${PROJECT_SOURCE_DIR}/examples
          -P ${PROJECT_SOURCE_DIR}/cmake/pgo_train.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${tolvane_pgo_dir}/profile.stamp
  DEPENDS ${tolvane_pgo_program} ${PROJECT_SOURCE_DIR}/cmake/pgo_train.cmake
  COMMENT "Running an instrumented Tolvane over sample sources for its profile"
  VERBATIM)
add_custom_target(tolvane_pgo_profile DEPENDS ${tolvane_pgo_dir}/profile.stamp)
add_dependencies(tolvane_pgo_profile tolvane_pgo_build)
foreach(target ${tolvane_pgo_targets})
  add_dependencies(${target} tolvane_pgo_profile)
  # Code the training does not reach is optimized as it would be without
  # a profile, rather than for size as code never run; the objects of these
  # libraries that Tolvane does not link have no counts at all.
  target_compile_options(${target} PRIVATE -fprofile-use=${tolvane_pgo_dir}/profile
    -fprofile-prefix-path=${PROJECT_BINARY_DIR}
    -fprofile-partial-training -Wno-missing-profile)
  # A compiler cache would not see the counts these objects are compiled
  # with, named as they are here, and could hand back objects made with
  # others.
  set_target_properties(${target} PROPERTIES CXX_COMPILER_LAUNCHER "")
endforeach()
