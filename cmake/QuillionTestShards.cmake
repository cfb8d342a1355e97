# SPDX-License-Identifier: GPL-2.0-or-later
# How many processes CTest splits each test program into (GoogleTest's sharding). A sanitized
# test program takes about half a second to start and some suites build their fixtures once
# per process, so a shard only pays where the suite runs long enough to hold a core: the long
# suites take four, short ones run whole. A program not named here takes two. Keep the
# figures in step with scripts/test-report's per-program totals.
set(QUILLION_TEST_SHARDS
  # about a minute or more of test time: four
  brindle_internal_tests=4 burn_tests=4 corvel_tests=4 daskin_tests=4 device_tests=4
  dpm_tests=4 mp3enc_encoder_tests=4 mpeg_scanner_tests=4 track_tests=4 writer_tests=4
  # a second or less: one
  bufstream_tests=1 burn_cache_tests=1 common_tests=1 corvel_internal_tests=1
  gui_framework_tests=1 mp3enc_thread_tests=1 mpeg_common_tests=1 platform_tests=1
  test_support_tests=1)

function(quillion_test_shards name out)
  set(count 2)
  foreach(row IN LISTS QUILLION_TEST_SHARDS)
    if(row MATCHES "^${name}=([0-9]+)$")
      set(count ${CMAKE_MATCH_1})
    endif()
  endforeach()
  set(${out} ${count} PARENT_SCOPE)
endfunction()
