// The Windows API without the rarely used parts that slow every build and define macros
// such as min and max.
#ifndef N47_PLATFORM_WINDOWS_HEADERS_H
#define N47_PLATFORM_WINDOWS_HEADERS_H

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>
#endif

#endif
