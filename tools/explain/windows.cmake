# destpick-explain.exe for Windows: runtime linked in, version resource and manifest as
# destpick.exe has them, but it runs with the rights of whoever starts it.
destpick_shipped_program(destpick_explain destpick-explain tools/explain)

destpick_wine_test(explain_wine $<TARGET_FILE:destpick_explain> ${DESTPICK_WINE}
    ${CMAKE_CURRENT_SOURCE_DIR})
