# destpick-capture: asks a machine what destpick asks it and records the answers as a machine that
# the native build replays. Plain code over the Windows API, built natively against the stand-in
# and for Windows alike; it shares the probe's interface enumeration and device-ID rule with the
# system itself.
add_library(capture_core STATIC
    tools/capture/disk_capture.cpp
    tools/capture/node_capture.cpp
    tools/capture/controller_capture.cpp
    tools/capture/capture.cpp)
target_include_directories(capture_core PUBLIC tools/capture)
target_compile_options(capture_core PRIVATE ${DESTPICK_WARNINGS})
target_link_libraries(capture_core PUBLIC destpick_core destpick_machine)

if(NOT WIN32)
    # Every example machine and a few hundred generated ones, captured and replayed.
    add_executable(capture_tests tests/capture_test.cpp tests/test_support.cpp tests/test_main.cpp)
    target_include_directories(capture_tests PRIVATE tests)
    target_compile_options(capture_tests PRIVATE ${DESTPICK_WARNINGS})
    target_link_libraries(capture_tests PRIVATE capture_core destpick_core winapi_sim GTest::gtest)
    target_compile_definitions(capture_tests PRIVATE
        DESTPICK_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
    gtest_discover_tests(capture_tests DISCOVERY_TIMEOUT 60)
endif()
