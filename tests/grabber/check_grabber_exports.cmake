# The test grabber's dynamic symbol table holds exactly the operations that
# src/grabber/usb_frm01.h declares. Usage: cmake -DLIBRARY=path -P check_grabber_exports.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../support/dynamic_exports.cmake)
file(READ ${CMAKE_CURRENT_LIST_DIR}/../../src/grabber/usb_frm01.h header)
string(REGEX MATCHALL "int USB_FRM01_CALL [A-Za-z_]+\\(" declarations "${header}")
set(expected "")
foreach(declaration IN LISTS declarations)
  string(REGEX REPLACE "int USB_FRM01_CALL ([A-Za-z_]+)\\(" "\\1" name "${declaration}")
  list(APPEND expected ${name})
endforeach()
list(SORT expected)
list(LENGTH expected count)
if(NOT count EQUAL 11)
  message(FATAL_ERROR "expected the eleven grabber operations in usb_frm01.h, found ${count}: ${expected}")
endif()

n47_expect_dynamic_exports(${LIBRARY} "${expected}")
message(STATUS "exactly the ${count} grabber operations")
