# destpick-capture.exe for Windows: built as destpick.exe is, runtime linked in and stripped,
# elevated, with its version resource. The delay-loaded DLLs come with destpick_core, whose
# functions it calls: cmake/windows.cmake builds their import libraries once for both.
destpick_shipped_program(destpick_capture destpick-capture tools/capture -municode)

add_test(NAME windows_imports_capture COMMAND bash
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/windows_imports_test.sh
    $<TARGET_FILE:destpick_capture> ${PROJECT_VERSION} "VERSION.dll SETUPAPI.dll")
# Captured under Wine on simulated disks, replayed natively: the log destpick.exe wrote under
# Wine on the same machine.
destpick_wine_test(wine_capture ${DESTPICK_NATIVE_BUILD_DIR} ${CMAKE_CURRENT_BINARY_DIR}
    ${DESTPICK_WINE})
set_tests_properties(wine_capture PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
