# Source lists by layer. New module files are picked up by the globs; the build
# decides which layers go into which program.
file(GLOB KZV_PORTABLE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/framework/*.cpp
  ${CMAKE_SOURCE_DIR}/gui/*.cpp
  ${CMAKE_SOURCE_DIR}/drivers/*.cpp
  ${CMAKE_SOURCE_DIR}/codecs/*.cpp
  ${CMAKE_SOURCE_DIR}/resources/*.cpp)

# The C-linkage memory functions that the compiler emits calls to: the host C
# library has its own (and the sanitizers intercept those).
set(KZV_COMPILER_RUNTIME ${CMAKE_SOURCE_DIR}/framework/compilerruntime.cpp)
if(KZV_TARGET STREQUAL "hosted")
  list(REMOVE_ITEM KZV_PORTABLE_SOURCES ${KZV_COMPILER_RUNTIME})
endif()

# Modules of the Windows layer that make no system call, or only through os_
# functions: the pure logic of the platform bodies (path forms, text conversion,
# the command-line split, the calendar, the clipboard copy), the arithmetic and the
# text buffer. Every build compiles them into its library, so the unit tests of
# every target check them on each CPU, hosted under the sanitizers too; the Linux
# and macOS programs reference none of them, and the linker leaves them out.
set(KZV_PORTABLE_WINDOWS_SOURCES
  ${CMAKE_SOURCE_DIR}/platform/windows/cliptext.cpp
  ${CMAKE_SOURCE_DIR}/platform/windows/fixedcordic.cpp
  ${CMAKE_SOURCE_DIR}/platform/windows/float16.cpp
  ${CMAKE_SOURCE_DIR}/platform/windows/textbuffer.cpp
  ${CMAKE_SOURCE_DIR}/platform/windows/wincalendar.cpp
  ${CMAKE_SOURCE_DIR}/platform/windows/wincmdline.cpp
  ${CMAKE_SOURCE_DIR}/platform/windows/winpath.cpp
  ${CMAKE_SOURCE_DIR}/platform/windows/wintext.cpp)

if(KZV_TARGET STREQUAL "windows")
  file(GLOB KZV_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/windows/*.cpp)
  set(KZV_START ${CMAKE_SOURCE_DIR}/platform/windows/entry.cpp)
  # The table of what the program carries beyond its dialogs is linked into the
  # program itself (cmake/programs.cmake), not into the test binaries.
  set(KZV_CARRIED ${CMAKE_SOURCE_DIR}/platform/windows/carried.cpp)
  list(REMOVE_ITEM KZV_PLATFORM_SOURCES ${KZV_START} ${KZV_CARRIED} ${KZV_PORTABLE_WINDOWS_SOURCES})
else()
  file(GLOB KZV_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/linux/*.cpp)
  # The process entry of the freestanding programs; a hosted binary starts in the C library.
  set(KZV_START ${CMAKE_SOURCE_DIR}/platform/linux/start.cpp)
  list(REMOVE_ITEM KZV_PLATFORM_SOURCES ${KZV_START})
  # The DRM framebuffer back-end is carried by the x86-64 and i386 programs only;
  # on ARM the driver's flag 4 finds no display.
  set(KZV_FRAMEBUFFER_SOURCES
    ${CMAKE_SOURCE_DIR}/platform/linux/drmdevice.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/fbcompose.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/framebuffer.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/framebufferdevice.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/framebufferthreads.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/guidriver_framebuffer.cpp)
  if(KZV_ARCH STREQUAL "arm")
    list(REMOVE_ITEM KZV_PLATFORM_SOURCES ${KZV_FRAMEBUFFER_SOURCES})
  else()
    list(REMOVE_ITEM KZV_PLATFORM_SOURCES ${CMAKE_SOURCE_DIR}/platform/linux/guidriver_noframebuffer.cpp)
  endif()
endif()

# The macOS layer in two parts: the bodies that call libSystem (os_*.cpp, the
# entry and the compiler's runtime function), built only for macOS, and the window-system binding with its back-ends,
# which reaches the frameworks only through the resolver it is given, so the host
# build also tests it against a fake Objective-C runtime. The argument record is
# filled by the same code as on Linux.
file(GLOB KZV_MACOS_BINDING_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/macos/*.cpp)
file(GLOB KZV_MACOS_SYSTEM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/macos/os_*.cpp)
list(APPEND KZV_MACOS_SYSTEM_SOURCES ${CMAKE_SOURCE_DIR}/platform/macos/compilerruntime_macos.cpp)
set(KZV_MACOS_START ${CMAKE_SOURCE_DIR}/platform/macos/start.cpp)
set(KZV_MACOS_GUIDRIVER ${CMAKE_SOURCE_DIR}/platform/macos/guidriver_macos.cpp)
list(REMOVE_ITEM KZV_MACOS_BINDING_SOURCES ${KZV_MACOS_SYSTEM_SOURCES} ${KZV_MACOS_START} ${KZV_MACOS_GUIDRIVER})
set(KZV_MACOS_STUB ${CMAKE_SOURCE_DIR}/platform/macos/libSystem.tbd)
if(KZV_TARGET STREQUAL "macos")
  set(KZV_PLATFORM_SOURCES ${KZV_MACOS_SYSTEM_SOURCES} ${KZV_MACOS_BINDING_SOURCES} ${KZV_MACOS_GUIDRIVER}
      ${CMAKE_SOURCE_DIR}/platform/linux/os_arguments.cpp)
  set(KZV_START ${KZV_MACOS_START})
endif()

file(GLOB KZV_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/gui/app/*.cpp)
file(GLOB KZV_HARNESS_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/harness/*.cpp)
set(KZV_HOSTED_MAIN ${CMAKE_SOURCE_DIR}/tests/harness/hostedmain.cpp)
list(REMOVE_ITEM KZV_HARNESS_SOURCES ${KZV_HOSTED_MAIN})
file(GLOB KZV_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/test_*.cpp)
file(GLOB KZV_E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
