# Which vector kernels the build has, and the per-file instruction flags they need. This is the
# one place that decides: src/CMakeLists.txt writes the answer into common/kernel_config.h,
# which the code reads.
#   N47_X86_KERNELS      SSE2 and AVX2 kernels (x86 with GCC or Clang by default; OFF stands in
#                        for a compiler without per-file instruction flags: portable forms only)
#   N47_AVX512_KERNELS   ... and the AVX-512 kernels too
#   n47_kernel_flags(TARGET AVX2|AVX512 files...)   adds that set's flags to those files of TARGET only

set(n47_x86_default OFF)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86|x86|X86)$")
  set(n47_x86_default ON)
endif()
option(N47_X86_KERNELS "Build the SSE2 and AVX2 kernels" ${n47_x86_default})
option(N47_AVX512_KERNELS "Build the AVX-512 kernels" ${N47_X86_KERNELS})
if(NOT N47_X86_KERNELS)
  set(N47_AVX512_KERNELS OFF)
endif()

function(n47_kernel_flags target set)
  if(set STREQUAL "AVX2")
    set(flags -mavx2)
  elseif(set STREQUAL "AVX512")
    set(flags -mavx512f -mavx512bw -mavx512vl -mavx512dq)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      # GCC 12's own AVX-512 headers trip these warnings (their "undefined" vector inputs).
      list(APPEND flags -Wno-maybe-uninitialized -Wno-uninitialized)
    endif()
  else()
    message(FATAL_ERROR "unknown instruction set ${set}")
  endif()
  if(MINGW)
    # Windows keeps the stack 16-byte aligned and GCC spills wide registers with aligned
    # moves; have the assembler emit unaligned moves instead, which cost nothing on aligned data.
    list(APPEND flags -Wa,-muse-unaligned-vector-move)
  endif()
  set_property(SOURCE ${ARGN} TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS ${flags})
endfunction()
