# Every ELF file finds its neighbours relative to itself: in the build tree all binaries share
# bin/, installed programs look in ../lib and installed libraries beside themselves. A moved
# prefix, or a copied bin/ folder, keeps working with no LD_LIBRARY_PATH, and a copied driver
# binds to the simulator copied beside it, not to the one in the build folder.
#
# The build tree carries the install RUNPATH already (programs search both places): then the
# install copies files as they are, and CMake never pads a build RUNPATH with the empty
# entries it would edit later, each of which would mean the current directory.
if(APPLE)
  set(n47_origin "@loader_path")
else()
  set(n47_origin "$ORIGIN")
endif()
file(RELATIVE_PATH n47_bin_to_lib "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
set(CMAKE_BUILD_WITH_INSTALL_RPATH ON)
set(CMAKE_INSTALL_RPATH "${n47_origin}/${n47_bin_to_lib};${n47_origin}")

# For the libraries themselves: the driver finds the grabber library beside it.
function(n47_library_runpath target)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${n47_origin}")
endfunction()
