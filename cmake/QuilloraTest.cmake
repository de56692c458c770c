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
  gtest_discover_tests(${name}
    PROPERTIES LABELS "${ARG_LABELS}"
    DISCOVERY_TIMEOUT 60)
endfunction()
