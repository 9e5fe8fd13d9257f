# destpick-explain: reads a destpick log and explains a complete run in it, for a console or as a
# decision row for scripts. Plain C++, built
# natively and for Windows alike; it needs neither the Windows API nor its stand-in.
add_library(explain_core STATIC
    tools/explain/log_text.cpp
    tools/explain/log_lines.cpp
    tools/explain/banners.cpp
    tools/explain/run_order.cpp
    tools/explain/log_entries.cpp
    tools/explain/run_account.cpp
    tools/explain/oddities.cpp
    tools/explain/verdicts.cpp
    tools/explain/numbering.cpp
    tools/explain/explanation_text.cpp
    tools/explain/explain.cpp
    tools/explain/decision_row.cpp
    tools/explain/row_text.cpp
    tools/explain/script_formats.cpp)
# The log's formats, the weighting's scale and the bus names: plain headers of the system (src).
target_include_directories(explain_core PUBLIC tools/explain src)
target_link_libraries(explain_core PUBLIC stability_verdict PRIVATE destpick_text)

add_executable(destpick_explain tools/explain/main.cpp)
set_target_properties(destpick_explain PROPERTIES OUTPUT_NAME destpick-explain SUFFIX ".exe")
target_compile_definitions(destpick_explain PRIVATE DESTPICK_EXPLAIN_VERSION="${PROJECT_VERSION}")
target_link_libraries(destpick_explain PRIVATE explain_core)

if(WIN32)
    include(tools/explain/windows.cmake)
else()
    add_executable(explain_tests tests/explain_test.cpp)
    target_link_libraries(explain_tests PRIVATE explain_core GTest::gtest_main)
    target_compile_definitions(explain_tests PRIVATE
        DESTPICK_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
    gtest_discover_tests(explain_tests DISCOVERY_TIMEOUT 60)
    destpick_script_test(explain_cli $<TARGET_FILE:destpick_explain> $<TARGET_FILE:destpick>
        ${CMAKE_CURRENT_SOURCE_DIR})
endif()
