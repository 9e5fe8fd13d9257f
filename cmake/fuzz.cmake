# The fuzzer over hostile simulated machines: clang's libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer; the whole system and the stand-in are instrumented for coverage.
add_executable(machine_fuzzer tests/fuzz/machine_fuzzer.cpp)
target_compile_options(machine_fuzzer PRIVATE ${DESTPICK_WARNINGS})
target_link_libraries(machine_fuzzer PRIVATE destpick_core winapi_sim)
target_link_options(machine_fuzzer PRIVATE -fsanitize=fuzzer)
