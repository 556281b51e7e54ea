# Checks the shared library's dynamic symbol table and its dependency on the grabber library.
# Usage: cmake -DLIBRARY=path -P check_exports.cmake
set(expected
  CalibrationMode CheckInterface CheckSwitch GetImagePtr GetMsgLength GetSwitchMsg GetTemperature
  Init_Comm LoadGainMap LoadPixelMap Map_Calibration Ready_Time_Chk RunforDetector SavePixelMap
  SaveGainMap SaveRawImage Sys_Allocation_N47 Sys_Free)
list(SORT expected)

execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(exported "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  string(REGEX REPLACE "@.*$" "" name "${name}")
  list(APPEND exported ${name})
endforeach()
list(SORT exported)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n  expected: ${expected}\n  found:    ${exported}")
endif()

execute_process(COMMAND readelf -d ${LIBRARY} OUTPUT_VARIABLE dynamic)
if(NOT dynamic MATCHES "NEEDED[^\n]*\\[libUSB_FRM01\\.so\\]")
  message(FATAL_ERROR "the library does not import libUSB_FRM01.so:\n${dynamic}")
endif()
message(STATUS "exactly the 18 exports; imports libUSB_FRM01.so")
