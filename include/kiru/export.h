// Symbol visibility for the Kiru shared library.
#pragma once

#if defined(_WIN32)
#  if defined(KIRU_BUILDING)
#    define KIRU_API __declspec(dllexport)
#  elif defined(KIRU_STATIC)
#    define KIRU_API
#  else
#    define KIRU_API __declspec(dllimport)
#  endif
#else
#  define KIRU_API __attribute__((visibility("default")))
#endif
