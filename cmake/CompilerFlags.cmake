# Flags every target of the project shares. Pixel results must be bit-identical on every
# target: no contraction into fused multiply-add, no fast-math, and SSE2 (not x87) on
# 32-bit x86, where x87 would compute in 80-bit registers and round twice.

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wpedantic -ffp-contract=off -fno-fast-math)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86|X86|AMD64|x86_64)$")
    add_compile_options(-msse2 -mfpmath=sse)
  endif()
elseif(MSVC)
  # /fp:precise is the default and does not contract; /arch:SSE2 is the x86 default.
  add_compile_options(/W4 /fp:precise)
endif()

set(N47_IS_X86_32 OFF)
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86|X86)$")
  set(N47_IS_X86_32 ON)
endif()

# The sanitizer builds (presets asan and fuzz): N47_SANITIZE names the sanitizers for every
# target, and every report aborts.
set(N47_SANITIZE "" CACHE STRING "Sanitizers for every target, e.g. address,undefined (empty: none)")
if(N47_SANITIZE)
  add_compile_options(-fsanitize=${N47_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${N47_SANITIZE})
endif()
