# destpick.exe for Windows: the real SDK headers, the runtime linked in, manifest and version.
enable_language(RC)
string(REPLACE "." "," DESTPICK_VERSION_COMMAS "${PROJECT_VERSION}")
configure_file(src/resources/destpick.rc.in ${CMAKE_CURRENT_BINARY_DIR}/destpick.rc @ONLY)
configure_file(src/resources/destpick.manifest ${CMAKE_CURRENT_BINARY_DIR}/destpick.manifest COPYONLY)
target_sources(destpick PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/destpick.rc)
# windres reports no dependencies, so a changed manifest would otherwise leave the old one embedded.
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/destpick.rc PROPERTIES
    OBJECT_DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/destpick.manifest)
target_link_options(destpick PRIVATE -static)
target_link_libraries(destpick_core PUBLIC setupapi cfgmgr32 user32 version)
# mingw's strsafe.h renames wvsprintfW and friends to undeclared names to push callers to its own
# functions; the log writer relies on wvsprintfW's documented 1024-character cut, so keep it.
target_compile_definitions(destpick_core PUBLIC STRSAFE_NO_DEPRECATE)

enable_testing()
# The checks that compare the two builds take the native side from here; the test command
# builds it first.
set(DESTPICK_NATIVE_BUILD_DIR ${CMAKE_CURRENT_SOURCE_DIR}/build/sim CACHE PATH
    "Folder of the native build that the Windows build is compared with")
find_program(DESTPICK_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(DESTPICK_WINE NAMES wine64 wine)
add_test(NAME windows_imports COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows_imports_test.sh
    $<TARGET_FILE:destpick> ${PROJECT_VERSION})
add_test(NAME wine_run COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/wine_run_test.sh
    $<TARGET_FILE:destpick> ${DESTPICK_WINE} ${PROJECT_VERSION})
set_tests_properties(wine_run PROPERTIES RESOURCE_LOCK wine)
add_test(NAME golden COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/golden_test.sh
    ${DESTPICK_NATIVE_BUILD_DIR}/destpick.exe $<TARGET_FILE:destpick> ${DESTPICK_WINE}
    ${CMAKE_CURRENT_SOURCE_DIR})
set_tests_properties(golden PROPERTIES RESOURCE_LOCK wine)
