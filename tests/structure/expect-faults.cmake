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
    "b/Baz.cpp: includes a/Foo_p.h, the private header of another folder's component"
    "include cycle between folders: b, c"
    "crowded/: 17 components (at most 16)"
    "check-structure: 6 problem")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "not reported: ${expected}")
  endif()
endforeach()
