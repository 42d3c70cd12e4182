# Checks what Kiru.dll exports: the two entry points under their plain names,
# and otherwise only members of the public classes and the public free
# functions that the headers under include/kiru mark KIRU_API (and the type
# information of classes, see below).
#   cmake -DDLL=Kiru.dll -DOBJDUMP=x86_64-w64-mingw32-objdump -DCXXFILT=x86_64-w64-mingw32-c++filt
#         -DINCLUDE_DIR=include/kiru -P check_exports.cmake

execute_process(COMMAND ${OBJDUMP} -p ${DLL} RESULT_VARIABLE rc OUTPUT_VARIABLE dump ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${err}")
endif()

# The export names follow "[Ordinal/Name Pointer] Table" as "\t[   N] Name".
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${DLL} has no export name table")
endif()
string(SUBSTRING "${dump}" ${at} -1 table)
string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" rows "${table}")
set(names "")
foreach(row ${rows})
  string(REGEX REPLACE "^\n\t\\[ *[0-9]+\\] " "" name "${row}")
  list(APPEND names "${name}")
endforeach()

foreach(entry KiruGrabInstantiate KiruGrabDelete)
  list(FIND names ${entry} found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${entry} is not exported under its plain name; exports:\n${names}")
  endif()
endforeach()

# The public names: classes and free functions marked KIRU_API.
file(GLOB headers ${INCLUDE_DIR}/*.h)
set(public "")
foreach(header ${headers})
  file(STRINGS ${header} lines REGEX "KIRU_API")
  foreach(line ${lines})
    if(line MATCHES "class KIRU_API ([A-Za-z_0-9]+)")
      list(APPEND public ${CMAKE_MATCH_1})
    elseif(line MATCHES "KIRU_API [^(]*[ *]([A-Za-z_0-9]+)\\(")
      list(APPEND public ${CMAKE_MATCH_1})
    endif()
  endforeach()
endforeach()

set(internal "")
foreach(name ${names})
  if(name STREQUAL "KiruGrabInstantiate" OR name STREQUAL "KiruGrabDelete")
    continue()
  endif()
  execute_process(COMMAND ${CXXFILT} ${name} OUTPUT_VARIABLE plain OUTPUT_STRIP_TRAILING_WHITESPACE)
  # GCC for Windows exports the type information of every class that derives
  # from an exported one (the library's capture classes derive from
  # CIobject); it names a type and holds no code.
  if(plain MATCHES "^typeinfo for [A-Za-z_0-9]+$")
    continue()
  endif()
  # "vtable for X", "typeinfo for X", "X::Member(...)", "kiru::F(...)".
  string(REGEX REPLACE "^(vtable|typeinfo|typeinfo name|VTT) for " "" owner "${plain}")
  string(REGEX REPLACE "\\(.*" "" owner "${owner}")
  string(REGEX REPLACE "^kiru::(sim::)?" "" owner "${owner}")
  string(REGEX REPLACE "::.*" "" owner "${owner}")
  list(FIND public "${owner}" known)
  if(known EQUAL -1)
    list(APPEND internal "${name} (${plain})")
  endif()
endforeach()
if(internal)
  string(REPLACE ";" "\n  " internal "${internal}")
  message(FATAL_ERROR "${DLL} exports names that are not public:\n  ${internal}")
endif()
list(LENGTH names count)
message("${DLL}: ${count} exports, all public; entry points undecorated")
