# Every unit-test file is its own binary; CTest runs it (under qemu for ARM through
# CMAKE_CROSSCOMPILING_EMULATOR). End-to-end tests are pytest files run against the
# programs of this build directory.
# Tests that meet an emulator's limits (qemu-user starts no shared-memory clone
# outside the thread group) learn from this whether they run under one.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(kzv_under_emulator 1)
else()
  set(kzv_under_emulator 0)
endif()
# True when the file, or a header of the tests folder it includes, includes a
# header of the Linux layer.
function(kzv_includeslinux file result)
  set(found FALSE)
  set(pending ${file})
  set(seen "")
  while(pending AND NOT found)
    list(POP_FRONT pending current)
    list(APPEND seen ${current})
    file(STRINGS ${current} includes REGEX "^#include \"")
    foreach(line ${includes})
      if(line MATCHES "platform/linux/")
        set(found TRUE)
      elseif(line MATCHES "^#include \"([a-z0-9_]+\\.h)\"")
        get_filename_component(dir ${current} DIRECTORY)
        set(header ${dir}/${CMAKE_MATCH_1})
        if(EXISTS ${header} AND NOT header IN_LIST seen)
          list(APPEND pending ${header})
        endif()
      endif()
    endforeach()
  endwhile()
  set(${result} ${found} PARENT_SCOPE)
endfunction()

# The tests of the macOS binding drive it through a fake Objective-C runtime whose
# message send is x86-64 code, so they are built on the x86-64 Linux builds. The
# macOS build links every other portable test against its own platform layer,
# which proves they build there; nothing here can run them.
set(kzv_fakeruntime FALSE)
if(KZV_ARCH STREQUAL "x86_64" AND (KZV_TARGET STREQUAL "hosted" OR KZV_TARGET STREQUAL "linux"))
  set(kzv_fakeruntime TRUE)
endif()
# On Windows the window system is always there: no environment takes the display
# away, so the tests of a run without any display do not apply.
if(KZV_TARGET STREQUAL "windows")
  set(kzv_display_always 1)
else()
  set(kzv_display_always 0)
endif()
# On Windows a path that begins with "//" and a name is a network share or a
# device; elsewhere the kernel reads a run of leading slashes as the root.
if(KZV_TARGET STREQUAL "windows")
  set(kzv_networkpaths 1)
else()
  set(kzv_networkpaths 0)
endif()
# The builds that carry the DRM framebuffer back-end.
if((KZV_TARGET STREQUAL "linux" OR KZV_TARGET STREQUAL "hosted") AND NOT KZV_ARCH STREQUAL "arm")
  set(kzv_framebuffer 1)
else()
  set(kzv_framebuffer 0)
endif()
foreach(testsource ${KZV_UNIT_TESTS})
  get_filename_component(testname ${testsource} NAME_WE)
  # The Windows build runs every unit test that does not reach into the Linux
  # layer, and the tests of the Windows layer itself (test_windows_*), which no
  # other build runs; the macOS build links the portable ones.
  if(testname MATCHES "^test_macos")
    if(NOT kzv_fakeruntime)
      continue()
    endif()
  elseif(testname MATCHES "^test_windows_")
    if(NOT KZV_TARGET STREQUAL "windows")
      continue()
    endif()
  elseif(KZV_TARGET STREQUAL "macos" OR KZV_TARGET STREQUAL "windows")
    kzv_includeslinux(${testsource} linuxonly)
    if(linuxonly)
      continue()
    endif()
  endif()
  # The framebuffer back-end is built for x86-64 and i386 only.
  if(testname MATCHES "^test_(framebuffer|fbcompose)" AND KZV_ARCH STREQUAL "arm")
    continue()
  endif()
  kzv_program(${testname} ${testsource} ${KZV_HARNESS_SOURCES})
  # The kernel's DRM headers come with the i386 cross package; the host's own
  # kernel headers (searched first) give them their types and ioctl macros.
  if(testname STREQUAL "test_framebuffer" AND NOT KZV_ARCH STREQUAL "i386")
    target_compile_options(${testname} PRIVATE -idirafter /usr/i686-linux-gnu/include)
  endif()
  if(testname MATCHES "^test_macos")
    target_sources(${testname} PRIVATE ${KZV_MACOS_BINDING_SOURCES})
  endif()
  if(KZV_TARGET STREQUAL "hosted")
    target_sources(${testname} PRIVATE ${KZV_HOSTED_MAIN})
  endif()
  # The dialog application's tests take its modules, but not its hooks (the
  # harness is the application of a test binary).
  if(testname MATCHES "^test_usermain")
    set(appmodules ${KZV_APP_SOURCES})
    list(REMOVE_ITEM appmodules ${CMAKE_SOURCE_DIR}/gui/app/appmain.cpp)
    target_sources(${testname} PRIVATE ${appmodules})
  endif()
  target_compile_definitions(${testname} PRIVATE KZV_TESTS_UNDER_EMULATOR=${kzv_under_emulator}
    KZV_TESTS_DISPLAY_ALWAYS=${kzv_display_always} KZV_TESTS_FRAMEBUFFER=${kzv_framebuffer}
    KZV_TESTS_NETWORKPATHS=${kzv_networkpaths})
  if(KZV_TARGET STREQUAL "macos")
    continue()
  endif()
  # The window-system tests need wine on an X server: the end-to-end test of the
  # Windows dialogs runs them there.
  if(testname MATCHES "^test_windows_gdi")
    target_compile_definitions(${testname} PRIVATE KZV_TESTS_UNDER_EMULATOR=1 KZV_TESTS_DISPLAY_ALWAYS=1)
    continue()
  endif()
  add_test(NAME ${testname} COMMAND ${testname})
  if(KZV_TARGET STREQUAL "windows")
    set_tests_properties(${testname} PROPERTIES FIXTURES_REQUIRED wineprefix)
  endif()
  # A "free 0!!" anywhere in a run means some path freed a null pointer, which no
  # path may do (the pool test that frees null on purpose captures the report).
  set_tests_properties(${testname} PROPERTIES TIMEOUT 300 FAIL_REGULAR_EXPRESSION "[1-9][0-9]* failed;free 0!!")
endforeach()

if(KZV_TARGET STREQUAL "macos")
  return()
endif()

find_program(KZV_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
# The emulator command is a list ("qemu-arm;-cpu;arm926"): its separators are
# escaped, or the test environment would keep only its first word.
string(REPLACE ";" "\\;" KZV_EMULATOR_ENV "${CMAKE_CROSSCOMPILING_EMULATOR}")
foreach(testsource ${KZV_E2E_TESTS})
  get_filename_component(testname ${testsource} NAME_WE)
  # The Windows program's end-to-end tests run in the Windows build alone, and
  # that build runs no others (they drive Linux programs).
  if(KZV_TARGET STREQUAL "windows" AND NOT testname MATCHES "^test_windows_")
    continue()
  elseif(NOT KZV_TARGET STREQUAL "windows" AND testname MATCHES "^test_windows_")
    continue()
  endif()
  add_test(NAME e2e_${testname}
    COMMAND ${KZV_PYTHON} -m pytest -q -p no:cacheprovider ${testsource})
  set_tests_properties(e2e_${testname} PROPERTIES TIMEOUT 900
    ENVIRONMENT "KZV_BUILD=${CMAKE_BINARY_DIR};KZV_TARGET=${KZV_TARGET};KZV_ARCH=${KZV_ARCH};KZV_SUFFIX=${KZV_SUFFIX};KZV_EMULATOR=${KZV_EMULATOR_ENV}")
  # The Windows program's end-to-end tests share one wine prefix, whose server
  # each of them restarts with its own display: they run one at a time.
  if(testname MATCHES "^test_windows_")
    set_tests_properties(e2e_${testname} PROPERTIES RESOURCE_LOCK wine-e2e)
  endif()
endforeach()

# --- Pool red-zone proof (hosted sanitizer build only) --------------------------
# A deliberate overrun of a pool block must be reported by AddressSanitizer; the
# test passes only when that report appears in the output.
if(KZV_TARGET STREQUAL "hosted")
  kzv_program(redzone_overrun ${CMAKE_SOURCE_DIR}/tests/unit/redzone_overrun.cpp
    ${KZV_HARNESS_SOURCES} ${KZV_HOSTED_MAIN})
  add_test(NAME redzone_overrun COMMAND redzone_overrun)
  set_tests_properties(redzone_overrun PROPERTIES TIMEOUT 60
    PASS_REGULAR_EXPRESSION "ERROR: AddressSanitizer: use-after-poison")
endif()
# --- end of the pool red-zone proof ---------------------------------------------
