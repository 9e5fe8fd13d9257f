# destpick-fleet: replays every machine description of a fleet with the system's own code, in
# process, through the stand-in. Native only: it needs the stand-in and POSIX processes.
add_library(fleet_core STATIC
    tools/fleet/capture_origin.cpp
    tools/fleet/answers.cpp
    tools/fleet/machine_list.cpp
    tools/fleet/machine_replay.cpp
    tools/fleet/replay_workers.cpp
    tools/fleet/progress.cpp
    tools/fleet/fleet_options.cpp
    tools/fleet/fleet_run.cpp)
target_include_directories(fleet_core PUBLIC tools/fleet)
target_compile_options(fleet_core PRIVATE ${DESTPICK_WARNINGS})
target_link_libraries(fleet_core PUBLIC explain_core stability destpick_core winapi_sim
    destpick_machine)

add_executable(destpick_fleet tools/fleet/main.cpp)
set_target_properties(destpick_fleet PROPERTIES OUTPUT_NAME destpick-fleet)
target_compile_options(destpick_fleet PRIVATE ${DESTPICK_WARNINGS})
target_compile_definitions(destpick_fleet PRIVATE DESTPICK_FLEET_VERSION="${PROJECT_VERSION}")
target_link_libraries(destpick_fleet PRIVATE fleet_core)

find_package(GTest REQUIRED)
add_executable(fleet_tests tests/fleet_test.cpp tests/test_support.cpp tests/test_main.cpp)
target_include_directories(fleet_tests PRIVATE tests)
target_compile_options(fleet_tests PRIVATE ${DESTPICK_WARNINGS})
target_compile_definitions(fleet_tests PRIVATE DESTPICK_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
target_link_libraries(fleet_tests PRIVATE fleet_core machine_generator GTest::gtest)
gtest_discover_tests(fleet_tests DISCOVERY_TIMEOUT 60)
# The examples and 300 generated descriptions replayed by the fleet and by destpick.exe.
add_test(NAME fleet_cli COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/fleet_cli_test.sh
    $<TARGET_FILE:destpick_fleet> $<TARGET_FILE:destpick> $<TARGET_FILE:write_generated_machines>
    ${CMAKE_CURRENT_SOURCE_DIR})
