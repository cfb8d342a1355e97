# SPDX-License-Identifier: GPL-2.0-or-later
# quillion_add_mpeg_library(TARGET ferrule NAME Ferrule SOURCES ... [LIBS ...])
# One MPEG library: a shared object "<NAME>.so" (the framework name the loader searches for)
# whose only exported symbols are the functions marked QUILLION_MPEG_EXPORT in its header.
# It carries its own hidden copies of the byte streams and the shared scaffolding.
include_guard(GLOBAL)

function(quillion_add_mpeg_library)
  cmake_parse_arguments(L "" "TARGET;NAME" "SOURCES;LIBS" ${ARGN})
  # The sources compile once, into <TARGET>_objects: the shared object is made of them, and
  # white-box tests and fuzz targets link them directly instead of compiling them again.
  add_library(${L_TARGET}_objects OBJECT ${L_SOURCES})
  quillion_warnings(${L_TARGET}_objects)
  set_target_properties(${L_TARGET}_objects PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${L_TARGET}_objects PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${L_TARGET}_objects PUBLIC quillion_mpeg_headers quillion_mpeg_common bufstream ${L_LIBS})
  # Inline variables of the standard library would otherwise become unique global symbols,
  # which ignore visibility. Only GCC makes such symbols (and knows the flag).
  target_compile_options(${L_TARGET}_objects PRIVATE $<$<CXX_COMPILER_ID:GNU>:-fno-gnu-unique>)

  add_library(${L_TARGET} SHARED $<TARGET_OBJECTS:${L_TARGET}_objects>)
  set_target_properties(${L_TARGET} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${L_NAME}
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib/quillion/frameworks)
  target_include_directories(${L_TARGET} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${L_TARGET}
    PUBLIC quillion_mpeg_headers
    PRIVATE quillion_mpeg_common bufstream ${L_LIBS})
  # Static archives linked in stay private to this object even if a symbol in them is not
  # marked hidden; every reference must resolve now, not when a caller loads the library.
  # clang leaves the sanitizer and fuzzer runtimes to the executable, so a sanitized library
  # of its making has undefined references by design.
  target_link_options(${L_TARGET} PRIVATE -Wl,--exclude-libs,ALL)
  if(NOT QUILLION_SANITIZE OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_link_options(${L_TARGET} PRIVATE -Wl,--no-undefined)
  endif()
  install(TARGETS ${L_TARGET} LIBRARY DESTINATION lib/quillion/frameworks)
endfunction()
