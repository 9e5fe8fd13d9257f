# destpick-ts.exe for Windows: built as destpick.exe is, runtime linked in and stripped, elevated,
# with its version resource. OLE32 and OLEAUT32 are delay-loaded, through the libraries that
# cmake/windows.cmake builds.
add_executable(destpick_ts tools/ts/main.cpp tools/ts/ts_tool.cpp tools/ts/ts_environment.cpp
    tools/ts/destpick_run.cpp)
set_target_properties(destpick_ts PROPERTIES OUTPUT_NAME destpick-ts SUFFIX ".exe")
target_compile_definitions(destpick_ts PRIVATE DESTPICK_TS_VERSION=L"${PROJECT_VERSION}")
add_dependencies(destpick_ts delayload_libraries)
target_link_libraries(destpick_ts PRIVATE ts_answer ${DESTPICK_DELAYLOAD_OLE32}
    ${DESTPICK_DELAYLOAD_OLEAUT32})
destpick_shipped_program(destpick_ts destpick-ts tools/ts -municode)

add_test(NAME windows_imports_ts COMMAND bash
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows_imports_test.sh
    $<TARGET_FILE:destpick_ts> ${PROJECT_VERSION} "OLE32.dll OLEAUT32.dll")

# A task sequence environment for the Wine check, registered under the real ProgID in the Wine
# prefix only (tests/wine_disk/ts_environment.reg). Test-only, never shipped.
enable_language(C)
add_library(destpick_test_tsenv MODULE tests/wine_disk/ts_environment.c
    tests/wine_disk/ts_environment.def)
set_target_properties(destpick_test_tsenv PROPERTIES PREFIX "")
target_link_options(destpick_test_tsenv PRIVATE -static -s)
target_link_libraries(destpick_test_tsenv PRIVATE oleaut32 uuid)
destpick_wine_test(wine_ts ${DESTPICK_NATIVE_BUILD_DIR} ${CMAKE_CURRENT_BINARY_DIR}
    ${DESTPICK_WINE})
set_tests_properties(wine_ts PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
