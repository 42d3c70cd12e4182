# Installs the built package into a scratch prefix, then builds a separate
# client against it twice (a CMake project with find_package(Kiru), and a
# plain compiler call with the flags of kiru.pc) and runs both builds; then
# runs the installed kiru-grab from the prefix on its installed samples.
# For a Windows build, TOOLCHAIN names the toolchain file and EMULATOR the
# program that runs Windows executables ("|" between its words); the
# programs then find Kiru.dll beside them.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

# Runs a command; fails the test when it fails. The output is left in `out`.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "command failed (${rc}): ${ARGN}\n${output}\n${err}")
  endif()
  message("${output}")
  set(out "${output}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${KIRU_BINARY_DIR} --prefix ${prefix})

set(toolchain "")
set(emulator "")
set(rpath -Wl,-rpath,${prefix}/${KIRU_LIBDIR})
set(exe "")
if(TOOLCHAIN)
  set(exe .exe)
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
  string(REPLACE "|" ";" emulator "${EMULATOR}")
  set(rpath "")
endif()

run(${CMAKE_COMMAND} -S ${KIRU_SOURCE_DIR}/tests/client/project -B ${WORK_DIR}/build ${toolchain}
    -DCMAKE_PREFIX_PATH=${prefix} "-DCMAKE_CXX_FLAGS=${CLIENT_CXX_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${CLIENT_CXX_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
if(TOOLCHAIN)
  # A MinGW program ships its compiler's runtime libraries beside it.
  set(dlls ${prefix}/${KIRU_BINDIR}/Kiru.dll)
  foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CLIENT_CXX} -print-file-name=${runtime}
      OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(IS_ABSOLUTE "${found}" AND EXISTS "${found}")
      list(APPEND dlls ${found})
    endif()
  endforeach()
  file(COPY ${dlls} DESTINATION ${WORK_DIR}/build)
  file(COPY ${dlls} DESTINATION ${WORK_DIR})
endif()
run(${emulator} ${WORK_DIR}/build/kiru_client${exe})

# Without CMake: the compiler flags and libraries come from kiru.pc.
find_program(PKG_CONFIG NAMES pkg-config pkgconf REQUIRED)
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/${KIRU_LIBDIR}/pkgconfig
    ${PKG_CONFIG} --cflags --libs kiru)
separate_arguments(pc_flags UNIX_COMMAND "${out}")
separate_arguments(client_flags UNIX_COMMAND "${CLIENT_CXX_FLAGS}")
run(${CLIENT_CXX} -std=c++17 ${client_flags} ${KIRU_SOURCE_DIR}/tests/client/project/main.cpp
    -o ${WORK_DIR}/kiru_client_pc${exe} ${pc_flags} ${rpath})
run(${emulator} ${WORK_DIR}/kiru_client_pc${exe})

# The installed tool finds the library and the samples from its own folder.
if(NOT KIRU_GRAB)
  return()
endif()
file(REAL_PATH ${prefix}/${KIRU_DATADIR}/kiru/samples/images samples)
run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${emulator} ${prefix}/${KIRU_BINDIR}/kiru-grab${exe} -q -n 3)
set(images_line "images: ${samples}")
if(TOOLCHAIN)
  # A Windows path, on whatever drive Wine shows the prefix.
  set(images_line "kiru\\samples\\images")
endif()
foreach(expected "${images_line}" "frames delivered: ")
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "kiru-grab output lacks \"${expected}\":\n${out}")
  endif()
endforeach()
