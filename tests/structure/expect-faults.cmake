# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the structure checker on the fixture tree and fails unless it fails, naming each fault.
execute_process(COMMAND ${PYTHON} ${CHECKER} ${TREE} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(status EQUAL 0)
  message(FATAL_ERROR "the checker passed a tree with faults")
endif()
foreach(expected
    "include cycle between components: a/Bar, a/Foo"
    "a/Bar.cpp:13: function of 89 lines"
    "a/Foo.cpp:27: free function undeclared is not declared"
    "check-structure: 3 problem")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "not reported: ${expected}")
  endif()
endforeach()
