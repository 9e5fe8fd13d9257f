# destpick-ts: runs destpick.exe as a task sequence step and sets the disk variable from its
# answer. How it reads destpick's answer is plain C++, built and tested natively too; the rest
# talks to the task sequence's COM object and starts a process, so the program is Windows only.
add_library(ts_answer STATIC tools/ts/destpick_answer.cpp)
# destpick's answer in the words the system prints it with (src).
target_include_directories(ts_answer PUBLIC tools/ts PRIVATE src)
target_link_libraries(ts_answer PRIVATE destpick_text)

if(WIN32)
    include(tools/ts/windows.cmake)
else()
    add_executable(ts_tests tests/ts_answer_test.cpp)
    target_link_libraries(ts_tests PRIVATE ts_answer GTest::gtest_main)
    gtest_discover_tests(ts_tests DISCOVERY_TIMEOUT 60)
endif()
