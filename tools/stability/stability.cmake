# The numbering verdict: would a decision hold on a boot that numbers the same disks another way?
# The arrivals and the verdict are plain C++, shared with destpick-explain (which judges from a
# log, on Windows too); judging a machine runs the system's own probe, weighting and pick through
# the stand-in, so that part is native only.
add_library(stability_verdict STATIC
    tools/stability/arrivals.cpp
    tools/stability/numbering_verdict.cpp)
target_include_directories(stability_verdict PUBLIC tools/stability)

if(NOT WIN32)
    add_library(stability STATIC tools/stability/machine_stability.cpp)
    target_link_libraries(stability PUBLIC stability_verdict destpick_core destpick_machine)

    # Machines built for the verdicts, every example judged from its description and its pinned
    # log, and the arrivals weighed from one probe against whole runs on generated machines.
    destpick_test_program(stability_tests SOURCES tests/stability_test.cpp
        LIBRARIES stability explain_core machine_generator winapi_sim)
endif()
