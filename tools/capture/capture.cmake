# destpick-capture: asks a machine what destpick asks it and records the answers as a machine that
# the native build replays. Plain code over the Windows API, built natively against the stand-in
# and for Windows alike; it shares the probe's interface enumeration and device-ID rule with the
# system itself, and the reading of its own version with the run driver.
add_library(capture_core STATIC
    tools/capture/disk_capture.cpp
    tools/capture/node_capture.cpp
    tools/capture/controller_capture.cpp
    tools/capture/capture.cpp
    tools/capture/capture_file.cpp
    tools/capture/capture_tool.cpp)
target_include_directories(capture_core PUBLIC tools/capture)
target_compile_options(capture_core PRIVATE ${DESTPICK_WARNINGS})
target_link_libraries(capture_core PUBLIC destpick_core destpick_machine)

add_executable(destpick_capture tools/capture/main.cpp)
set_target_properties(destpick_capture PROPERTIES OUTPUT_NAME destpick-capture SUFFIX ".exe")
target_compile_options(destpick_capture PRIVATE ${DESTPICK_WARNINGS})
target_link_libraries(destpick_capture PRIVATE capture_core)

if(WIN32)
    include(tools/capture/windows.cmake)
else()
    target_link_libraries(destpick_capture PRIVATE winapi_wide_entry winapi_machine_from_environment)
    # Every example machine and a few hundred generated ones, captured and replayed; the tool run
    # as a whole.
    add_executable(capture_tests tests/capture_test.cpp tests/capture_tool_test.cpp
        tests/test_support.cpp tests/test_main.cpp)
    target_include_directories(capture_tests PRIVATE tests)
    target_compile_options(capture_tests PRIVATE ${DESTPICK_WARNINGS})
    target_link_libraries(capture_tests PRIVATE capture_core destpick_core winapi_sim
        machine_generator GTest::gtest)
    target_compile_definitions(capture_tests PRIVATE
        DESTPICK_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
    gtest_discover_tests(capture_tests DISCOVERY_TIMEOUT 60)
    # The executable on every example machine, its description replayed by destpick.exe.
    add_test(NAME capture_cli COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/capture_cli_test.sh
        $<TARGET_FILE:destpick_capture> $<TARGET_FILE:destpick> ${CMAKE_CURRENT_SOURCE_DIR})
    # The fleet check: scripts/replay.sh with --expect.
    add_test(NAME replay_expect COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/replay_test.sh
        ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
endif()
