# SPDX-License-Identifier: GPL-3.0-or-later
# What GStreamer's leak tracer says when objects are still alive as a test program shuts
# GStreamer down (the test main does so under GST_TRACERS=leaks): the test fails on it. No
# spaces: the value must pass through gtest_discover_tests unsplit.
set(QUILLORA_GST_LEAKS_REPORTED "Leaks.detected.and.logged")

# quillora_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>]
#                   [PLATFORM <Qt platform with its options>])
# One GoogleTest executable per call; every case becomes its own CTest test. PLATFORM runs it on
# another Qt platform than plain offscreen (offscreen with screens of a configuration file).
include(GoogleTest)
function(quillora_add_test name)
  cmake_parse_arguments(ARG "" "PLATFORM" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock quillora_testsupport)
  # The test main makes Qt run offscreen and the fixtures are found through the source
  # folder compiled into the test support, so no environment needs passing here (a list
  # value in PROPERTIES would be split apart and take the labels with it).
  # One label per test: gtest_discover_tests cannot carry a list value through. "threaded"
  # wins, since it is the label that picks the tests of the ThreadSanitizer run.
  set(label "")
  if(ARG_LABELS)
    list(GET ARG_LABELS 0 label)
  endif()
  if("threaded" IN_LIST ARG_LABELS)
    set(label threaded)
  endif()
  # The movie tests count the pictures a span of camera time gives: each runs alone, so that
  # a test beside it decoding or encoding 5 MP frames does not starve its camera or encoder.
  set(serial FALSE)
  if("movie" IN_LIST ARG_LABELS)
    set(serial TRUE)
  endif()
  set(platform "")
  if(ARG_PLATFORM)
    set(platform ENVIRONMENT "QT_QPA_PLATFORM=${ARG_PLATFORM}")
  endif()
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${label}" FAIL_REGULAR_EXPRESSION "${QUILLORA_GST_LEAKS_REPORTED}" RUN_SERIAL ${serial}
      ${platform}
    DISCOVERY_TIMEOUT 60)
endfunction()

# quillora_add_e2e_test(<name> <script> [ARGS <args...>] [NEEDS <programs...>])
# An end-to-end check: a script that drives the running binary under its own Xvfb with
# xdotool (tests/e2e/e2e-lib.sh). One at a time, since each starts an X server. Left out when
# a program it needs (Xvfb, xdotool, and NEEDS) is not installed.
function(quillora_add_e2e_test name script)
  cmake_parse_arguments(ARG "" "" "ARGS;NEEDS" ${ARGN})
  foreach(program Xvfb xdotool ${ARG_NEEDS})
    string(MAKE_C_IDENTIFIER "QUILLORA_PROGRAM_${program}" var)
    find_program(${var} ${program})
    if(NOT ${var})
      message(STATUS "${name} left out: ${program} not found")
      return()
    endif()
  endforeach()
  add_test(NAME ${name} COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/${script} $<TARGET_FILE:quillora> ${ARG_ARGS})
  set_tests_properties(${name} PROPERTIES LABELS e2e TIMEOUT 120 RUN_SERIAL TRUE)
endfunction()

# How a test program runs inside umockdev's emulated machine: with its preload library. An
# AddressSanitizer build needs its runtime to be the first library of the process, so the
# runtime is preloaded ahead of umockdev's instead of going through umockdev-wrapper.
find_program(UMOCKDEV_WRAPPER umockdev-wrapper REQUIRED)
if(QUILLORA_SANITIZE STREQUAL "address")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
    OUTPUT_VARIABLE QUILLORA_ASAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(QUILLORA_UMOCKDEV_RUN ${CMAKE_COMMAND} -E env LD_PRELOAD=${QUILLORA_ASAN_RUNTIME}:libumockdev-preload.so.0)
elseif(QUILLORA_SANITIZE STREQUAL "thread")
  # ThreadSanitizer does not see umockdev's closes: a library of the tests, ahead of umockdev's,
  # tells it of each (tests/support/TsanSeesCloses.cpp). Found by name on the library path, since
  # LD_PRELOAD would split a build folder with a space in its name.
  set(QUILLORA_TSAN_CLOSES_DIR ${CMAKE_BINARY_DIR}/tests/preload)
  set(QUILLORA_UMOCKDEV_RUN ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${QUILLORA_TSAN_CLOSES_DIR}
    LD_PRELOAD=libquillora_tsan_closes.so:libumockdev-preload.so.0)
else()
  set(QUILLORA_UMOCKDEV_RUN ${UMOCKDEV_WRAPPER})
endif()
