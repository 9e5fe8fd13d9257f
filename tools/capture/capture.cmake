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
target_link_libraries(capture_core PUBLIC destpick_core destpick_machine)

add_executable(destpick_capture tools/capture/main.cpp)
set_target_properties(destpick_capture PROPERTIES OUTPUT_NAME destpick-capture SUFFIX ".exe")
target_link_libraries(destpick_capture PRIVATE capture_core)

if(WIN32)
    include(tools/capture/windows.cmake)
else()
    target_link_libraries(destpick_capture PRIVATE winapi_wide_entry winapi_machine_from_environment)
    # Every example machine and a few hundred generated ones, captured and replayed; the tool run
    # as a whole.
    destpick_test_program(capture_tests SOURCES tests/capture_test.cpp tests/capture_tool_test.cpp
        LIBRARIES capture_core destpick_core winapi_sim machine_generator)
    # The executable on every example machine, its description replayed by destpick.exe.
    destpick_script_test(capture_cli $<TARGET_FILE:destpick_capture> $<TARGET_FILE:destpick>
        ${CMAKE_CURRENT_SOURCE_DIR})
    # The fleet check: scripts/replay.sh with --expect.
    add_test(NAME replay_expect COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/replay_test.sh
        ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
endif()
