# n47_require_package(PART PACKAGE [find_package arguments...])
# Finds PACKAGE for PART of the build, or stops the configure with one message that names the
# package, how to install it, and how to configure without that part.
macro(n47_require_package part package)
  find_package(${package} ${ARGN} QUIET)
  if(NOT ${package}_FOUND)
    message(FATAL_ERROR
      "${part} need the package ${package}, which was not found. Install the build's packages with "
      "scripts/install-deps.sh, or configure without them: "
      "-DN47_BUILD_TESTS=OFF -DN47_BUILD_TOOLS=OFF builds the two libraries with CMake and a C++ compiler alone.")
  endif()
endmacro()
