# The Windows build runs its test programs under wine, in a prefix of its own
# under the build tree. A fixture makes the prefix once (wineboot) and keeps one
# wine server alive for all tests, so each run costs a fraction of a second; the
# fixture's end stops that server. Every wine call runs under a timeout.
if(NOT KZV_TARGET STREQUAL "windows")
  return()
endif()
find_program(KZV_WINE wine)
set(KZV_WINEPREFIX ${CMAKE_BINARY_DIR}/wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tools/winerun.sh;${KZV_WINEPREFIX})
add_test(NAME wine-prefix-start COMMAND ${CMAKE_SOURCE_DIR}/tools/wineprefix.sh start ${KZV_WINEPREFIX})
add_test(NAME wine-prefix-stop COMMAND ${CMAKE_SOURCE_DIR}/tools/wineprefix.sh stop ${KZV_WINEPREFIX})
set_tests_properties(wine-prefix-start PROPERTIES FIXTURES_SETUP wineprefix TIMEOUT 300)
set_tests_properties(wine-prefix-stop PROPERTIES FIXTURES_CLEANUP wineprefix TIMEOUT 60)
