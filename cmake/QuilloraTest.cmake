# quillora_add_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One GoogleTest executable per call; every case becomes its own CTest test, run
# offscreen so no display is needed.
include(GoogleTest)
function(quillora_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock quillora_testsupport)
  gtest_discover_tests(${name}
    PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QUILLORA_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data"
      LABELS "${ARG_LABELS}"
    DISCOVERY_TIMEOUT 60)
endfunction()
