# The fuzzer over hostile simulated machines, with clang's libFuzzer. Preset `fuzz` is the fast
# build: UndefinedBehaviorSanitizer alone, coverage counters in src/ only, the log kept in memory.
# Preset `fuzz-replay` builds the same target with AddressSanitizer too and the log written to a
# file, to run the corpus again after each fuzzing run; `fuzz-coverage` measures what the corpus
# reaches of src/.
option(DESTPICK_FUZZ_LOG_ON_DISK "Write the fuzzed runs' logs to files rather than to memory" OFF)
add_executable(machine_fuzzer tests/fuzz/machine_fuzzer.cpp tests/fuzz/run_checks.cpp
    tests/fuzz/capture_replay.cpp)
if(DESTPICK_FUZZ_LOG_ON_DISK)
    target_compile_definitions(machine_fuzzer PRIVATE DESTPICK_FUZZ_LOG_ON_DISK)
endif()
target_link_libraries(machine_fuzzer PRIVATE capture_core destpick_core winapi_sim)
target_link_options(machine_fuzzer PRIVATE -fsanitize=fuzzer)
