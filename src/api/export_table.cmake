# The one table of the library's exports (src/api/exports.csv: name, ordinal, bytes of
# arguments), and the files made from it at configure time: the Linux version script, both
# Windows module definition files and the table the export hosts compile in. The checks of the
# built libraries read the same table.

set(N47_EXPORT_TABLE ${CMAKE_CURRENT_LIST_DIR}/exports.csv)

# Sets N47_EXPORT_NAMES (in ordinal order) and N47_EXPORT_ORDINAL_<name>, N47_EXPORT_BYTES_<name>.
function(n47_read_export_table)
  file(STRINGS ${N47_EXPORT_TABLE} lines)
  list(POP_FRONT lines header)
  if(NOT header STREQUAL "name,ordinal,argument_bytes")
    message(FATAL_ERROR "${N47_EXPORT_TABLE}: unexpected header '${header}'")
  endif()
  set(names "")
  set(expected 1)
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^([A-Za-z_][A-Za-z0-9_]*),([0-9]+),([0-9]+)$")
      message(FATAL_ERROR "${N47_EXPORT_TABLE}: cannot read '${line}'")
    endif()
    # Ordinals run 1, 2, 3 ... in table order: the export hosts index the table by ordinal.
    if(NOT CMAKE_MATCH_2 EQUAL expected)
      message(FATAL_ERROR "${N47_EXPORT_TABLE}: ${CMAKE_MATCH_1} has ordinal ${CMAKE_MATCH_2}, expected ${expected}")
    endif()
    math(EXPR expected "${expected} + 1")
    list(APPEND names ${CMAKE_MATCH_1})
    set(N47_EXPORT_ORDINAL_${CMAKE_MATCH_1} ${CMAKE_MATCH_2} PARENT_SCOPE)
    set(N47_EXPORT_BYTES_${CMAKE_MATCH_1} ${CMAKE_MATCH_3} PARENT_SCOPE)
  endforeach()
  set(N47_EXPORT_NAMES ${names} PARENT_SCOPE)
endfunction()

# Writes `content` to `path` only when it changed, so an unchanged table relinks nothing.
function(n47_write_if_changed path content)
  file(WRITE ${path}.new "${content}")
  configure_file(${path}.new ${path} COPYONLY)
  file(REMOVE ${path}.new)
endfunction()

# Writes exports.map, Tavrin_N47_USB_REF.def, Tavrin_N47_USB_REF.i686.def and
# n47_export_table.inc into `dir`.
function(n47_write_export_files dir)
  n47_read_export_table()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${N47_EXPORT_TABLE})
  set(generated "generated from src/api/exports.csv at configure time")
  set(map "/* ${generated} */\n{\n  global:\n")
  set(def "; ${generated}\nLIBRARY Tavrin_N47_USB_REF\nEXPORTS\n")
  # 32-bit x86: the objects carry the stdcall names (_Name@bytes). The DLL is linked with
  # --kill-at, which exports each under its plain name at the ordinal given here; dlltool -k
  # turns this file into the import library, where a caller's _Name@bytes reference resolves
  # to the plain export.
  set(def32 "${def}")
  set(inc "// ${generated}\n// N47_EXPORT(name, ordinal, bytes of arguments)\n")
  foreach(name IN LISTS N47_EXPORT_NAMES)
    set(ordinal ${N47_EXPORT_ORDINAL_${name}})
    set(bytes ${N47_EXPORT_BYTES_${name}})
    string(APPEND map "    ${name};\n")
    string(APPEND def "    ${name} @${ordinal}\n")
    string(APPEND def32 "    ${name}@${bytes} @${ordinal}\n")
    string(APPEND inc "N47_EXPORT(${name}, ${ordinal}, ${bytes})\n")
  endforeach()
  string(APPEND map "  local: *;\n};\n")
  n47_write_if_changed(${dir}/exports.map "${map}")
  n47_write_if_changed(${dir}/Tavrin_N47_USB_REF.def "${def}")
  n47_write_if_changed(${dir}/Tavrin_N47_USB_REF.i686.def "${def32}")
  n47_write_if_changed(${dir}/n47_export_table.inc "${inc}")
endfunction()
