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
target_link_libraries(fleet_core PUBLIC explain_core stability destpick_core winapi_sim
    destpick_machine)

add_executable(destpick_fleet tools/fleet/main.cpp)
set_target_properties(destpick_fleet PROPERTIES OUTPUT_NAME destpick-fleet)
target_compile_definitions(destpick_fleet PRIVATE DESTPICK_FLEET_VERSION="${PROJECT_VERSION}")
target_link_libraries(destpick_fleet PRIVATE fleet_core)

destpick_test_program(fleet_tests SOURCES tests/fleet_test.cpp
    LIBRARIES fleet_core machine_generator)
# The examples and 300 generated descriptions replayed by the fleet and by destpick.exe.
destpick_script_test(fleet_cli $<TARGET_FILE:destpick_fleet> $<TARGET_FILE:destpick>
    $<TARGET_FILE:write_generated_machines> ${CMAKE_CURRENT_SOURCE_DIR})
