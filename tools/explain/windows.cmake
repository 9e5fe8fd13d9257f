# destpick-explain.exe for Windows: runtime linked in, version resource and manifest as
# destpick.exe has them, but it runs with the rights of whoever starts it.
configure_file(tools/explain/destpick-explain.rc.in
    ${CMAKE_CURRENT_BINARY_DIR}/destpick-explain.rc @ONLY)
configure_file(tools/explain/destpick-explain.manifest
    ${CMAKE_CURRENT_BINARY_DIR}/destpick-explain.manifest COPYONLY)
target_sources(destpick_explain PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/destpick-explain.rc)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/destpick-explain.rc PROPERTIES
    OBJECT_DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/destpick-explain.manifest)
target_link_options(destpick_explain PRIVATE -static -s)

add_test(NAME explain_wine COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/explain_wine_test.sh
    $<TARGET_FILE:destpick_explain> ${DESTPICK_WINE} ${CMAKE_CURRENT_SOURCE_DIR})
set_tests_properties(explain_wine PROPERTIES RESOURCE_LOCK wine)
