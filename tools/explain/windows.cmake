# destpick-explain.exe for Windows: runtime linked in, version resource and manifest as
# destpick.exe has them, but it runs with the rights of whoever starts it.
destpick_shipped_program(destpick_explain destpick-explain tools/explain)

add_test(NAME explain_wine COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/explain_wine_test.sh
    $<TARGET_FILE:destpick_explain> ${DESTPICK_WINE} ${CMAKE_CURRENT_SOURCE_DIR})
set_tests_properties(explain_wine PROPERTIES RESOURCE_LOCK wine)
