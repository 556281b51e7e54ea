# Checks the shared library's dynamic symbol table and its dependency on the grabber library.
# Usage: cmake -DLIBRARY=path -P check_exports.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../support/dynamic_exports.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../../src/api/export_table.cmake)
n47_read_export_table()
set(expected ${N47_EXPORT_NAMES})
list(SORT expected)
list(LENGTH expected count)

n47_expect_dynamic_exports(${LIBRARY} "${expected}")

execute_process(COMMAND readelf -d ${LIBRARY} OUTPUT_VARIABLE dynamic)
if(NOT dynamic MATCHES "NEEDED[^\n]*\\[libUSB_FRM01\\.so\\]")
  message(FATAL_ERROR "the library does not import libUSB_FRM01.so:\n${dynamic}")
endif()
message(STATUS "exactly the ${count} exports of the table; imports libUSB_FRM01.so")
