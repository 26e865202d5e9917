# Whether the i386 programs and tests run natively or under qemu-i386.
# Kernels built without 32-bit x86 support refuse them ("Exec format error"), so
# the build runs a tiny static i386 program once and takes the emulator where
# that fails. KZV_I386_EMULATOR (cache) or the environment variable of the same
# name forces the choice: ON always emulates, OFF never, AUTO probes.
if(NOT KZV_ARCH STREQUAL "i386" OR NOT KZV_TARGET STREQUAL "linux")
  return()
endif()
set(KZV_I386_EMULATOR "$ENV{KZV_I386_EMULATOR}" CACHE STRING "AUTO, ON or OFF: run i386 programs under qemu-i386")
if(KZV_I386_EMULATOR STREQUAL "")
  set_property(CACHE KZV_I386_EMULATOR PROPERTY VALUE AUTO)
endif()

function(kzv_probe_i386 result)
  set(probe ${CMAKE_BINARY_DIR}/probe/exit42)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/probe)
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -m32 -static -nostdlib -ffreestanding -fno-pie -no-pie
            -o ${probe} ${CMAKE_SOURCE_DIR}/cmake/probe/exit42.cpp
    RESULT_VARIABLE built OUTPUT_QUIET ERROR_QUIET)
  if(NOT built EQUAL 0)
    message(FATAL_ERROR "cannot build the i386 probe program with ${CMAKE_CXX_COMPILER}")
  endif()
  # A kernel that refuses the program makes execute_process report an error
  # string or a status other than 42; both mean "emulate".
  execute_process(COMMAND ${probe} RESULT_VARIABLE ran OUTPUT_QUIET ERROR_QUIET TIMEOUT 10)
  if(ran STREQUAL "42")
    set(${result} OFF PARENT_SCOPE)
  else()
    set(${result} ON PARENT_SCOPE)
  endif()
endfunction()

if(KZV_I386_EMULATOR STREQUAL "AUTO")
  kzv_probe_i386(emulate)
elseif(KZV_I386_EMULATOR)
  set(emulate ON)
else()
  set(emulate OFF)
endif()

# tools/test.sh reads this to know whether the emulated path has run already.
set(KZV_I386_EMULATED ${emulate} CACHE INTERNAL "")
if(emulate)
  find_program(KZV_QEMU_I386 qemu-i386 REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KZV_QEMU_I386})
  message(STATUS "i386 programs run under ${KZV_QEMU_I386} (KZV_I386_EMULATOR=${KZV_I386_EMULATOR})")
else()
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
  message(STATUS "i386 programs run natively (KZV_I386_EMULATOR=${KZV_I386_EMULATOR})")
endif()
