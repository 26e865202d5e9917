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
foreach(testsource ${KZV_UNIT_TESTS})
  get_filename_component(testname ${testsource} NAME_WE)
  kzv_program(${testname} ${testsource} ${KZV_HARNESS_SOURCES})
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
  add_test(NAME ${testname} COMMAND ${testname})
  target_compile_definitions(${testname} PRIVATE KZV_TESTS_UNDER_EMULATOR=${kzv_under_emulator})
  # A "free 0!!" anywhere in a run means some path freed a null pointer, which no
  # path may do (the pool test that frees null on purpose captures the report).
  set_tests_properties(${testname} PROPERTIES TIMEOUT 300 FAIL_REGULAR_EXPRESSION "[1-9][0-9]* failed;free 0!!")
endforeach()

find_program(KZV_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
# The emulator command is a list ("qemu-arm;-cpu;arm926"): its separators are
# escaped, or the test environment would keep only its first word.
string(REPLACE ";" "\\;" KZV_EMULATOR_ENV "${CMAKE_CROSSCOMPILING_EMULATOR}")
foreach(testsource ${KZV_E2E_TESTS})
  get_filename_component(testname ${testsource} NAME_WE)
  add_test(NAME e2e_${testname}
    COMMAND ${KZV_PYTHON} -m pytest -q -p no:cacheprovider ${testsource})
  set_tests_properties(e2e_${testname} PROPERTIES TIMEOUT 900
    ENVIRONMENT "KZV_BUILD=${CMAKE_BINARY_DIR};KZV_TARGET=${KZV_TARGET};KZV_ARCH=${KZV_ARCH};KZV_SUFFIX=${KZV_SUFFIX};KZV_EMULATOR=${KZV_EMULATOR_ENV}")
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
