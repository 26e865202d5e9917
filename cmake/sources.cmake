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

# Modules of the Windows program that call only os_ functions, or none (the
# arithmetic). Every build compiles them into its library, so the unit tests of
# every target check them on each CPU; the Linux programs reference none of them,
# and the linker leaves them out.
set(KZV_PORTABLE_WINDOWS_SOURCES
  ${CMAKE_SOURCE_DIR}/platform/windows/fixedcordic.cpp
  ${CMAKE_SOURCE_DIR}/platform/windows/float16.cpp
  ${CMAKE_SOURCE_DIR}/platform/windows/textbuffer.cpp)

file(GLOB KZV_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/linux/*.cpp)
# The process entry of the freestanding programs; a hosted binary starts in the C library.
set(KZV_START ${CMAKE_SOURCE_DIR}/platform/linux/start.cpp)
list(REMOVE_ITEM KZV_PLATFORM_SOURCES ${KZV_START})

file(GLOB KZV_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/gui/app/*.cpp)
file(GLOB KZV_HARNESS_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/harness/*.cpp)
set(KZV_HOSTED_MAIN ${CMAKE_SOURCE_DIR}/tests/harness/hostedmain.cpp)
list(REMOVE_ITEM KZV_HARNESS_SOURCES ${KZV_HOSTED_MAIN})
file(GLOB KZV_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/test_*.cpp)
file(GLOB KZV_E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
