# Fails when a source file under src/ includes across a forbidden edge.
# Layers point one way: platform <- os <- image <- grab <- backends, and
# capture uses platform only; the registry and the hardware back-ends (gev,
# board) also use the capture contract. Of the public headers, the grab
# object's belong to the grab layer and above, the back-ends' classes to the
# back-ends, and the simulated station's to the capture layer alone.
#   cmake -DKIRU_SOURCE_DIR=... -P check_includes.cmake

set(base_headers "kiru/win_types.h;kiru/export.h;kiru/bitmap_types.h;kiru/ifw_types.h;kiru/xistorage.h;\
kiru/ciobject.h;kiru/scoped_handles.h;kiru/cios.h")
set(grab_headers "kiru/ixgrab.h;kiru/cigrab.h")

# Folder (longest match wins) -> internal folders it may include.
set(allowed_platform "platform")
set(allowed_os "platform;os")
set(allowed_image "platform;os;image")
set(allowed_grab "platform;os;image;grab")
set(allowed_capture "platform;capture")
set(allowed_backends "platform;os;image;grab;backends;capture")
set(allowed_backends/emu "platform;os;image;grab;backends/emu")
set(allowed_backends/tag "platform;os;image;grab;backends/tag")
set(allowed_backends/gev "platform;os;image;grab;backends/gev;backends/board;capture")
set(allowed_backends/board "platform;os;image;grab;backends/board;capture")
# Which layers may include which public headers beyond the base ones.
set(grab_headers_ok "grab;backends;backends/emu;backends/tag;backends/gev;backends/board")
set(backend_headers_ok "backends;backends/emu;backends/tag;backends/gev;backends/board")

file(GLOB_RECURSE files RELATIVE ${KIRU_SOURCE_DIR}/src
  ${KIRU_SOURCE_DIR}/src/*.cpp ${KIRU_SOURCE_DIR}/src/*.h)
set(violations "")
foreach(file ${files})
  # The layer: backends/<x> for a back-end folder, else the top folder.
  string(REGEX MATCH "^[^/]+" layer ${file})
  if(file MATCHES "^backends/(emu|tag|gev|board)/")
    string(REGEX MATCH "^backends/[^/]+" layer ${file})
  endif()
  if(NOT DEFINED allowed_${layer})
    list(APPEND violations "${file}: folder ${layer} has no layer rule")
    continue()
  endif()
  file(STRINGS ${KIRU_SOURCE_DIR}/src/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]+)[\">].*" "\\1" target "${line}")
    if(target MATCHES "^kiru/")
      list(FIND base_headers ${target} is_base)
      list(FIND grab_headers ${target} is_grab)
      if(target STREQUAL "kiru/station.h")
        set(ok_layers "capture")
      elseif(NOT is_grab EQUAL -1)
        set(ok_layers ${grab_headers_ok})
      else()
        set(ok_layers ${backend_headers_ok})
      endif()
      list(FIND ok_layers ${layer} ok)
      if(is_base EQUAL -1 AND ok EQUAL -1)
        list(APPEND violations "${file}: ${layer} includes <${target}>")
      endif()
      continue()
    endif()
    if(NOT EXISTS ${KIRU_SOURCE_DIR}/src/${target})
      continue()  # a system header
    endif()
    set(permitted FALSE)
    foreach(prefix ${allowed_${layer}})
      if(target MATCHES "^${prefix}/")
        set(permitted TRUE)
      endif()
    endforeach()
    if(NOT permitted)
      list(APPEND violations "${file}: ${layer} includes \"${target}\"")
    endif()
  endforeach()
endforeach()

list(LENGTH files count)
if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "Includes across a forbidden edge:\n  ${text}")
endif()
message(STATUS "Layer check: ${count} files, no include crosses a forbidden edge")
