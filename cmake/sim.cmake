# Native build against the Windows-API stand-in and its simulated machine.
add_library(winapi_sim STATIC
    winapi/src/kernel32/handles.cpp
    winapi/src/kernel32/files.cpp
    winapi/src/kernel32/paths.cpp
    winapi/src/kernel32/memory_files.cpp
    winapi/src/kernel32/devices.cpp
    winapi/src/kernel32/heap.cpp
    winapi/src/kernel32/process.cpp
    winapi/src/kernel32/codepage.cpp
    winapi/src/kernel32/loader.cpp
    winapi/src/user32/wsprintf.cpp
    winapi/src/user32/char_upper.cpp
    winapi/src/crt/console.cpp
    winapi/src/crt/strsafe.cpp
    winapi/src/setupapi/setupapi.cpp
    winapi/src/setupapi/config_manager.cpp
    winapi/src/version/version.cpp
    winapi/src/standin/installed.cpp
    ${CMAKE_CURRENT_BINARY_DIR}/default_machine.cpp)
# winapi/sdk: the SDK headers the system compiles against, below the machine model;
# winapi/control: the stand-in's own interface (sim/standin.h), above it, through which tests and
# tools install a machine and read what a run asked.
target_include_directories(winapi_sim PUBLIC winapi/sdk winapi/control PRIVATE winapi/src)
target_link_libraries(winapi_sim PUBLIC destpick_machine)
target_compile_definitions(winapi_sim PRIVATE
    DESTPICK_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    DESTPICK_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    DESTPICK_VERSION_PATCH=${PROJECT_VERSION_PATCH}
    DESTPICK_VERSION_TWEAK=${PROJECT_VERSION_TWEAK})

# What -municode is to the Windows build: the start-up of a program whose entry point is wmain.
# A library of its own, linked only by such programs, so that no other program meets a second main.
add_library(winapi_wide_entry STATIC winapi/src/crt/wide_entry.cpp)
target_link_libraries(winapi_wide_entry PUBLIC destpick_text)

# The start-up of a program that takes its machine from DESTPICK_SIM_MACHINE: an object library,
# so that its initializer is linked although nothing calls into it.
add_library(winapi_machine_from_environment OBJECT winapi/src/standin/machine_from_environment.cpp)
target_link_libraries(winapi_machine_from_environment PUBLIC winapi_sim)
target_link_libraries(destpick PRIVATE winapi_machine_from_environment)

# The default machine is the shipped example, embedded so the native build runs without files.
set(DESTPICK_DEFAULT_MACHINE ${CMAKE_CURRENT_SOURCE_DIR}/examples/machines/default.json)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${DESTPICK_DEFAULT_MACHINE})
file(READ ${DESTPICK_DEFAULT_MACHINE} DESTPICK_DEFAULT_MACHINE_JSON)
configure_file(winapi/src/standin/default_machine.cpp.in ${CMAKE_CURRENT_BINARY_DIR}/default_machine.cpp @ONLY)

target_link_libraries(destpick_core PUBLIC winapi_sim)

enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)
# A GoogleTest program over the shared test support and main of tests/, which finds the examples
# in the source tree; each of its tests is registered with CTest.
function(destpick_test_program target)
    cmake_parse_arguments(PARSE_ARGV 1 program "" "" "SOURCES;LIBRARIES")
    add_executable(${target} ${program_SOURCES} tests/test_support.cpp tests/test_main.cpp)
    target_include_directories(${target} PRIVATE tests)
    target_compile_definitions(${target} PRIVATE DESTPICK_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
    target_link_libraries(${target} PRIVATE ${program_LIBRARIES} GTest::gtest)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60)
endfunction()

destpick_test_program(destpick_tests SOURCES
    tests/machine/description_test.cpp
    tests/machine/replies_test.cpp
    tests/machine/writer_test.cpp
    tests/winapi/format_test.cpp
    tests/winapi/codepage_test.cpp
    tests/winapi/files_test.cpp
    tests/winapi/modules_test.cpp
    tests/winapi/heap_test.cpp
    tests/winapi/devices_test.cpp
    tests/winapi/setupapi_test.cpp
    tests/winapi/counters_test.cpp
    tests/log_writer_test.cpp
    tests/weighting_test.cpp
    tests/run_driver_test.cpp
    tests/disk_probe_test.cpp
    tests/device_id_test.cpp
    tests/pci_link_speed_test.cpp
    tests/raid_query_test.cpp
    tests/bad_input_test.cpp
    LIBRARIES destpick_core winapi_sim)
# The model's own units (machine/src) too: its reply forms are tested where they are declared.
target_include_directories(destpick_tests PRIVATE machine/src)
target_link_libraries(destpick_tests PRIVATE nlohmann_json::nlohmann_json)

# The native executable, run as a user would, on the example machines.
destpick_script_test(native_cli $<TARGET_FILE:destpick> ${CMAKE_CURRENT_SOURCE_DIR})
destpick_script_test(example_logs $<TARGET_FILE:destpick> ${CMAKE_CURRENT_SOURCE_DIR})
add_test(NAME example_logs_rewritten COMMAND bash
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/example_logs_test.sh $<TARGET_FILE:destpick>
    ${CMAKE_CURRENT_SOURCE_DIR} --rewritten-by $<TARGET_FILE:rewrite_description>)

# The benchmark: whole runs on simulated machines of 1 to 256 disks. Its figures come from the
# bench preset (Release); here it is built and its runs checked, never timed.
add_executable(destpick_benchmark bench/run_benchmark.cpp bench/fleet_machine.cpp
    bench/stability_benchmark.cpp)
target_link_libraries(destpick_benchmark PRIVATE destpick_core winapi_sim stability
    machine_generator)
add_test(NAME benchmark_check COMMAND destpick_benchmark --check)
add_test(NAME benchmark_stability_check COMMAND destpick_benchmark --stability=200 --check)

# The fuzz target without libFuzzer, replaying the regression inputs with its own checks in every
# ordinary test run. FuzzedDataProvider.h comes with clang; a folder of the build tree links to
# its folder alone, so that g++ does not see clang's own copies of the standard headers.
execute_process(COMMAND clang++ -print-resource-dir OUTPUT_VARIABLE DESTPICK_CLANG_RESOURCES
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
find_path(DESTPICK_FUZZED_DATA_PROVIDER fuzzer/FuzzedDataProvider.h
    HINTS ${DESTPICK_CLANG_RESOURCES}/include NO_DEFAULT_PATH REQUIRED)
set(DESTPICK_FUZZER_HEADERS ${CMAKE_CURRENT_BINARY_DIR}/fuzzer-headers)
file(MAKE_DIRECTORY ${DESTPICK_FUZZER_HEADERS})
file(CREATE_LINK ${DESTPICK_FUZZED_DATA_PROVIDER}/fuzzer ${DESTPICK_FUZZER_HEADERS}/fuzzer SYMBOLIC)
add_executable(replay_fuzz_inputs tests/fuzz/replay_inputs.cpp tests/fuzz/machine_fuzzer.cpp
    tests/fuzz/run_checks.cpp tests/fuzz/capture_replay.cpp)
target_include_directories(replay_fuzz_inputs SYSTEM PRIVATE ${DESTPICK_FUZZER_HEADERS})
# The log on disk, as the fuzz-replay preset keeps it, so that the file functions meet every
# entry of the replayed runs.
target_compile_definitions(replay_fuzz_inputs PRIVATE DESTPICK_FUZZ_LOG_ON_DISK)
target_link_libraries(replay_fuzz_inputs PRIVATE capture_core destpick_core winapi_sim)
add_test(NAME fuzz_regressions COMMAND replay_fuzz_inputs
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz/regressions)
