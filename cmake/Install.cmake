# What `cmake --install` puts where, by component:
#   runtime      the driver and the simulator library (the DLLs on Windows)
#   development  the headers, import libraries, .def files, CMake package and pkg-config files
#                (on Windows also the C# declarations)
#   tools        the n47 tool (on Windows: the export host, as a smoke test of an installed tree)
#   python       the n47 Python package, told where the libraries of this install lie
include(CMakePackageConfigHelpers)

set(N47_CMAKE_PACKAGE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/TavrinN47")

install(TARGETS Tavrin_N47_USB_REF USB_FRM01 EXPORT TavrinN47Targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/tavrin_n47.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/sim/include/n47sim/sim_control.h ${PROJECT_SOURCE_DIR}/sim/include/n47sim/model_control.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/n47sim COMPONENT development)
if(WIN32)
  # The .def files stay for those who make their own import library (lib /def:... takes the
  # plain one); the decorated 32-bit one is what dlltool builds a MinGW import library from.
  set(N47_DEF_FILES ${N47_EXPORT_FILES}/Tavrin_N47_USB_REF.def)
  if(N47_IS_X86_32)
    list(APPEND N47_DEF_FILES ${N47_EXPORT_FILES}/Tavrin_N47_USB_REF.i686.def)
  endif()
  install(FILES ${N47_DEF_FILES} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
  if(N47_MSVC_IMPORT_LIBRARY)
    install(FILES ${N47_MSVC_IMPORT_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/bindings/csharp/TavrinN47.cs DESTINATION csharp COMPONENT development)
endif()

# The CMake package, from an installed prefix ...
install(EXPORT TavrinN47Targets NAMESPACE TavrinN47:: FILE TavrinN47Targets.cmake
  DESTINATION ${N47_CMAKE_PACKAGE_DIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TavrinN47Config.cmake.in
  ${PROJECT_BINARY_DIR}/TavrinN47Config.cmake INSTALL_DESTINATION ${N47_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/TavrinN47ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/TavrinN47Config.cmake ${PROJECT_BINARY_DIR}/TavrinN47ConfigVersion.cmake
  DESTINATION ${N47_CMAKE_PACKAGE_DIR} COMPONENT development)
# ... and from the build tree (TavrinN47_DIR=<build folder>).
export(EXPORT TavrinN47Targets NAMESPACE TavrinN47:: FILE ${PROJECT_BINARY_DIR}/TavrinN47Targets.cmake)

# pkg-config files that find their prefix from where they lie, so a moved prefix still works.
file(RELATIVE_PATH N47_PC_TO_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" N47_PC_TO_PREFIX "${N47_PC_TO_PREFIX}")
foreach(pc tavrin_n47 n47sim)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT development)
endforeach()

if(TARGET n47)
  install(TARGETS n47 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()
if(WIN32 AND TARGET n47_export_host)
  install(TARGETS n47_export_host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()

# The Python package finds the libraries it was installed with through n47/_install.py, which
# names their folder relative to the package, so a moved prefix still works.
set(N47_PYTHON_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/python3/dist-packages" CACHE STRING
  "Where the python component puts the n47 package, relative to the prefix")
set(n47_library_folder "${CMAKE_INSTALL_FULL_LIBDIR}")
if(WIN32)
  set(n47_library_folder "${CMAKE_INSTALL_FULL_BINDIR}")  # DLLs sit beside the programs
endif()
file(RELATIVE_PATH N47_PYTHON_TO_LIBRARIES "${CMAKE_INSTALL_PREFIX}/${N47_PYTHON_INSTALL_DIR}/n47" "${n47_library_folder}")
file(WRITE ${PROJECT_BINARY_DIR}/python/_install.py
  "# Written by the install: the folder of the libraries, relative to this package.\n"
  "LIBRARY_DIR = \"${N47_PYTHON_TO_LIBRARIES}\"\n")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/n47 DESTINATION ${N47_PYTHON_INSTALL_DIR} COMPONENT python
  PATTERN "__pycache__" EXCLUDE)
install(FILES ${PROJECT_BINARY_DIR}/python/_install.py DESTINATION ${N47_PYTHON_INSTALL_DIR}/n47 COMPONENT python)
