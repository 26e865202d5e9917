# The Windows programs carry the program's icon (resources/velkra.rc, made by
# tools/gen_winicon.py) in their resource section: every window class of the GDI
# back-end loads icon 2 from its own program, the tests' programs too.
if(KZV_TARGET STREQUAL "windows")
  find_program(KZV_WINDRES NAMES x86_64-w64-mingw32-windres REQUIRED)
  set(KZV_ICON_OBJECT ${CMAKE_BINARY_DIR}/velkraicon.obj)
  add_custom_command(OUTPUT ${KZV_ICON_OBJECT}
    COMMAND ${KZV_WINDRES} --input-format=rc --output-format=coff -I ${CMAKE_SOURCE_DIR}/resources
            ${CMAKE_SOURCE_DIR}/resources/velkra.rc ${KZV_ICON_OBJECT}
    DEPENDS ${CMAKE_SOURCE_DIR}/resources/velkra.rc ${CMAKE_SOURCE_DIR}/resources/velkra.ico
    VERBATIM)
  set_source_files_properties(${KZV_ICON_OBJECT} PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
endif()

# The programs of a configuration. A freestanding program starts in start.cpp.
function(kzv_program name)
  add_executable(${name} ${ARGN})
  if(KZV_TARGET STREQUAL "linux" OR KZV_TARGET STREQUAL "windows" OR KZV_TARGET STREQUAL "macos")
    target_sources(${name} PRIVATE ${KZV_START})
  endif()
  if(KZV_TARGET STREQUAL "windows")
    target_sources(${name} PRIVATE ${KZV_ICON_OBJECT})
  endif()
  target_link_libraries(${name} PRIVATE kzv)
endfunction()

# A shipped Linux program goes out without its symbols; the linked program stays
# beside it as NAME.debug, which the stripped one names in its debug link, so a
# debugger finds the symbols there.
function(kzv_ship name)
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${name}> $<TARGET_FILE:${name}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE:${name}>.debug $<TARGET_FILE:${name}>
    VERBATIM)
endfunction()

if(KZV_APP_SOURCES AND KZV_TARGET STREQUAL "linux")
  kzv_program(velkra-${KZV_SUFFIX} ${KZV_APP_SOURCES})
  kzv_ship(velkra-${KZV_SUFFIX})
  add_test(NAME links-against-nothing
    COMMAND ${CMAKE_SOURCE_DIR}/tools/checkstatic.sh $<TARGET_FILE:velkra-${KZV_SUFFIX}> ${KZV_ARCH}
            $<TARGET_FILE:velkra-${KZV_SUFFIX}>.debug)
endif()
# The Windows program keeps what it carries beyond the dialogs (the codecs): the
# table that reaches them is a root of the section collection. The checks read
# the finished program: its imports and the symbols of what it carries.
if(KZV_APP_SOURCES AND KZV_TARGET STREQUAL "windows")
  kzv_program(velkra-${KZV_SUFFIX} ${KZV_APP_SOURCES} ${KZV_CARRIED})
  target_link_options(velkra-${KZV_SUFFIX} PRIVATE -Wl,--undefined=kzv_carried)
  add_test(NAME windows-imports-and-carried
    COMMAND ${CMAKE_SOURCE_DIR}/tools/checkwindows.sh $<TARGET_FILE:velkra-${KZV_SUFFIX}>)
endif()
# Nothing here runs a Mach-O program: CI checks how it is linked instead.
if(KZV_APP_SOURCES AND KZV_TARGET STREQUAL "macos")
  kzv_program(velkra-${KZV_SUFFIX} ${KZV_APP_SOURCES})
  set_target_properties(velkra-${KZV_SUFFIX} PROPERTIES LINK_DEPENDS ${KZV_MACOS_STUB})
  add_test(NAME macho-load-commands
    COMMAND ${CMAKE_SOURCE_DIR}/tools/checkmacho.sh $<TARGET_FILE:velkra-${KZV_SUFFIX}> ${KZV_MACOS_STUB})
  return()
endif()
# The hosted build runs the same dialogs under the sanitizers for the end-to-end tests.
if(KZV_APP_SOURCES AND KZV_TARGET STREQUAL "hosted")
  kzv_program(velkra-${KZV_SUFFIX} ${KZV_APP_SOURCES} ${KZV_HOSTED_MAIN})
endif()

# The test application: a small program the end-to-end tests drive until the
# dialogs exist (signals, terminal restore, arguments, environment).
file(GLOB KZV_TESTAPP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/app/*.cpp)
if(KZV_TESTAPP_SOURCES)
  kzv_program(kzvtestapp ${KZV_TESTAPP_SOURCES})
  if(KZV_TARGET STREQUAL "hosted")
    target_sources(kzvtestapp PRIVATE ${KZV_HOSTED_MAIN})
  elseif(KZV_TARGET STREQUAL "linux")
    add_test(NAME testapp-links-against-nothing
      COMMAND ${CMAKE_SOURCE_DIR}/tools/checkstatic.sh $<TARGET_FILE:kzvtestapp> ${KZV_ARCH})
  endif()
endif()

# The program the guest test boots with a real kernel (tests/e2e/test_drm_guest.py):
# built by the Linux programs that carry the framebuffer back-end.
if(KZV_TARGET STREQUAL "linux" AND NOT KZV_ARCH STREQUAL "arm")
  kzv_program(fbdemo ${CMAKE_SOURCE_DIR}/tests/guest/fbdemo.cpp)
endif()

# --- Test drivers: one small program per folder tests/tools/<name>/ --------------
# Command-line programs of our own that the end-to-end tests run against real
# peers (pipes, pseudo-terminals, files); built like the product for each target.
file(GLOB KZV_TESTTOOL_DIRS LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/*)
foreach(tooldir ${KZV_TESTTOOL_DIRS})
  if(IS_DIRECTORY ${tooldir})
    get_filename_component(toolname ${tooldir} NAME)
    file(GLOB toolsources CONFIGURE_DEPENDS ${tooldir}/*.cpp)
    if(toolsources)
      kzv_program(${toolname} ${toolsources})
      if(KZV_TARGET STREQUAL "hosted")
        target_sources(${toolname} PRIVATE ${KZV_HOSTED_MAIN})
      endif()
    endif()
  endif()
endforeach()
# The Windows program's own peers (tests/wintools/<name>/), built by that build alone.
if(KZV_TARGET STREQUAL "windows")
  file(GLOB KZV_WINTOOL_DIRS LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wintools/*)
  foreach(tooldir ${KZV_WINTOOL_DIRS})
    get_filename_component(toolname ${tooldir} NAME)
    file(GLOB toolsources CONFIGURE_DEPENDS ${tooldir}/*.cpp)
    if(toolsources)
      kzv_program(${toolname} ${toolsources})
    endif()
  endforeach()
endif()
# --- end of the test drivers -----------------------------------------------------
