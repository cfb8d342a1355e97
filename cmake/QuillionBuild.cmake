# SPDX-License-Identifier: GPL-2.0-or-later
# Build policy shared by every target: warnings, sanitizers, ccache and the helpers that
# let each area of the tree add its own targets and tests.

find_program(QUILLION_CCACHE ccache)
if(QUILLION_CCACHE)
  set(CMAKE_C_COMPILER_LAUNCHER ${QUILLION_CCACHE})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${QUILLION_CCACHE})
endif()

# Build speed. Unity batches are small enough that one batch never holds a core for minutes:
# twelve sources of product code (a batch of the windows takes about 20 s in a sanitizer
# build), six of test code, whose fixtures and helpers in anonymous namespaces clash more
# often when batched together; the faster linker is chosen when the machine has one; sanitizer builds keep line tables only,
# which is all a sanitizer trace needs. There are no precompiled headers: measured on this
# build, a GoogleTest or Qt header image (over 100 MB with sanitizers) cost more to write and
# to load than parsing the headers once per unity batch, and the whole build grew by an eighth.
option(QUILLION_UNITY "Compile each target in unity batches" ON)
set(QUILLION_UNITY_BATCH 12 CACHE STRING "Sources per unity batch of product code")
option(QUILLION_UNITY_TESTS "Compile the test suites in unity batches too" ON)
set(QUILLION_UNITY_TEST_BATCH 6 CACHE STRING "Sources per unity batch of a test suite")
if(QUILLION_UNITY)
  set(CMAKE_UNITY_BUILD ON)
  set(CMAKE_UNITY_BUILD_BATCH_SIZE ${QUILLION_UNITY_BATCH})
endif()
find_program(QUILLION_MOLD mold)
find_program(QUILLION_LLD ld.lld)
if(QUILLION_MOLD)
  add_link_options(-fuse-ld=mold)
elseif(QUILLION_LLD)
  add_link_options(-fuse-ld=lld)
endif()

# QUILLION_SANITIZE: a comma list handed to -fsanitize (for example "address,undefined" or "thread").
set(QUILLION_SANITIZE "" CACHE STRING "Sanitizers for every target (-fsanitize=...)")
if(QUILLION_SANITIZE)
  add_compile_options(-fsanitize=${QUILLION_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QUILLION_SANITIZE})
  # A sanitizer build exists to find faults, not to be fast: -O1 as the sanitizers advise,
  # which halves the compile time of every product source against -O2. The ThreadSanitizer
  # build keeps -O2: it is the one compile of the engine in CI where the optimiser's own
  # warnings (which appear only from -O2) can fail the run.
  foreach(lang C CXX)
    string(REGEX REPLACE "(^| )-g( |$)" "\\1-g1\\2" CMAKE_${lang}_FLAGS_RELWITHDEBINFO "${CMAKE_${lang}_FLAGS_RELWITHDEBINFO}")
    if(NOT QUILLION_SANITIZE STREQUAL "thread")
      string(REGEX REPLACE "(^| )-O2( |$)" "\\1-O1\\2" CMAKE_${lang}_FLAGS_RELWITHDEBINFO "${CMAKE_${lang}_FLAGS_RELWITHDEBINFO}")
    endif()
  endforeach()
endif()

# QUILLION_FUZZ (clang only): the product code carries libFuzzer's coverage instrumentation
# and tests/fuzz also builds each target as a libFuzzer binary. CI's test build is such a
# build, so one compile of the engine serves the test suites and the fuzzing run; test code
# (QUILLION_TEST_CODE) is left without it, as nothing fuzzes it.
option(QUILLION_FUZZ "Build libFuzzer binaries and instrument the product code (clang only)" OFF)
set(QUILLION_FUZZ_ENABLED OFF)
if(QUILLION_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(QUILLION_FUZZ_ENABLED ON)
  add_compile_options($<$<NOT:$<BOOL:$<TARGET_PROPERTY:QUILLION_TEST_CODE>>>:-fsanitize=fuzzer-no-link>)
elseif(QUILLION_FUZZ)
  message(WARNING "QUILLION_FUZZ needs clang; only the replay programs are built")
endif()
# scripts/fuzz reads this to know the build can make the fuzzers as it stands.
set(QUILLION_FUZZ_ENABLED_BUILD ${QUILLION_FUZZ_ENABLED} CACHE INTERNAL "")

include(QuillionTestShards)

option(QUILLION_WERROR "Treat warnings as errors" ON)

# Warnings for our own targets only; third-party headers come in as SYSTEM.
function(quillion_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wunused
    -Woverloaded-virtual -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough
    $<$<BOOL:${QUILLION_WERROR}>:-Werror>)
  # A unity batch includes each source like a header, so GCC takes a test fixture in an
  # anonymous namespace for one leaking out of a header: only an artefact of the batching.
  if(QUILLION_UNITY AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wno-subobject-linkage>)
  endif()
endfunction()

# Code that no test spends its time in (test code, the windows) is compiled with little
# optimisation in a sanitizer build, in a Release configuration too. GoogleTest's macros make
# large functions, and with the undefined-behaviour checks in them GCC's -O1 took twice as
# long as -Og for a test batch (32 s against 17.5 s); clang's -Og is its -O1, and its -O0
# compiles a batch in less than half the time of GCC's -Og. The code under test keeps -O1 and
# every check stays on.
function(quillion_unoptimised_when_sanitized target)
  if(QUILLION_SANITIZE AND CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Release)$")
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      target_compile_options(${target} PRIVATE -O0)
    else()
      target_compile_options(${target} PRIVATE -Og)
    endif()
  endif()
endfunction()

# Flags for test programs and their support libraries. Warnings: the same as for product code, less
# what GCC 12 at -O2/-O3 reports inside libstdc++'s shared_ptr, string, vector and streambuf code and
# GoogleTest's comparison helpers once they are inlined into a test: false reports about
# library code, many per test. Product code keeps every warning.
#
# quillion_test_flags(target [OPTIMISED]): OPTIMISED is for test-side reference maths (decoders,
# signal alignment, spectra) that loops over whole signals: unoptimised, with every check
# on, it took a quarter of the test stage, so it compiles as the product code does.
function(quillion_test_flags target)
  cmake_parse_arguments(F "OPTIMISED" "" "" ${ARGN})
  quillion_warnings(${target})
  set_target_properties(${target} PROPERTIES QUILLION_TEST_CODE ON)
  if(F_OPTIMISED)
    # -O2 in place of a sanitizer build's -O1: its loops are vectorised, checks and all.
    if(QUILLION_SANITIZE AND CMAKE_BUILD_TYPE STREQUAL "RelWithDebInfo")
      target_compile_options(${target} PRIVATE -O2)
    endif()
  else()
    quillion_unoptimised_when_sanitized(${target})
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:-Wno-null-dereference -Wno-stringop-overflow -Wno-stringop-overread -Wno-restrict
      -Wno-array-bounds>)
  endif()
endfunction()

# Adds every direct subfolder of DIR (and DIR itself) that has a CMakeLists.txt.
function(quillion_add_subdirectories dir)
  set(abs ${CMAKE_CURRENT_SOURCE_DIR}/${dir})
  if(EXISTS ${abs}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endfunction()

function(quillion_add_child_directories)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# quillion_add_gtest(NAME name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [SHARDS n])
# One executable per suite, which CTest runs as SHARDS entries (GoogleTest's own sharding;
# the count comes from QuillionTestShards.cmake unless given). Starting a sanitized test
# program costs up to a second, more than most tests take, so a process per TEST spent most
# of the test stage starting processes. TIMEOUT bounds one shard (at least 600 s). Each shard
# writes JUnit XML under <build>/test-results/, from which scripts/test names the slowest and
# the skipped tests.
function(quillion_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;SHARDS" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  set_target_properties(${T_NAME} PROPERTIES UNITY_BUILD ${QUILLION_UNITY_TESTS}
    UNITY_BUILD_BATCH_SIZE ${QUILLION_UNITY_TEST_BATCH})
  quillion_test_flags(${T_NAME})
  if(NOT T_TIMEOUT OR T_TIMEOUT LESS 600)
    set(T_TIMEOUT 600)
  endif()
  if(NOT T_SHARDS)
    quillion_test_shards(${T_NAME} T_SHARDS)
  endif()
  set(labels ${T_LABELS})
  if(NOT labels)
    set(labels unit)
  endif()
  # Suites labelled tsan also run in a ThreadSanitizer build, which builds only them.
  if("tsan" IN_LIST labels)
    if(NOT TARGET quillion_tsan_tests)
      add_custom_target(quillion_tsan_tests)
    endif()
    add_dependencies(quillion_tsan_tests ${T_NAME})
  endif()
  math(EXPR last "${T_SHARDS} - 1")
  foreach(shard RANGE ${last})
    set(entry ${T_NAME}.${shard})
    add_test(NAME ${entry} COMMAND ${T_NAME})
    set_tests_properties(${entry} PROPERTIES LABELS "${labels}" TIMEOUT ${T_TIMEOUT}
      ENVIRONMENT "GTEST_TOTAL_SHARDS=${T_SHARDS};GTEST_SHARD_INDEX=${shard};GTEST_OUTPUT=xml:${PROJECT_BINARY_DIR}/test-results/${entry}.xml;QUILLION_SOURCE_DIR=${PROJECT_SOURCE_DIR};QUILLION_BINARY_DIR=${PROJECT_BINARY_DIR}"
      # The checking tools are the Debian packages the set-up installs. A user's shims put
      # before them in PATH (pyenv's python3 takes seconds to start) would be slower and
      # possibly other versions.
      ENVIRONMENT_MODIFICATION "PATH=path_list_prepend:/usr/bin")
  endforeach()
endfunction()
