# quillora_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One GoogleTest executable per call; every case becomes its own CTest test.
include(GoogleTest)
function(quillora_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
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
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${label}"
    DISCOVERY_TIMEOUT 60)
endfunction()
