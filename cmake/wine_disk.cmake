# The real destpick.exe under Wine on simulated disks (tests/wine_disk/): the generator that turns
# a machine description into registry entries is native; the disk driver and the launcher that
# starts it are Windows programs. Test-only, never shipped.
if(WIN32)
    enable_language(C)
    add_executable(destpick_disk tests/wine_disk/disk_driver.c)
    set_target_properties(destpick_disk PROPERTIES SUFFIX ".sys")
    target_include_directories(destpick_disk SYSTEM PRIVATE ${CMAKE_FIND_ROOT_PATH}/include/ddk)
    # A kernel-mode image: no C runtime, subsystem native, importing ntoskrnl.exe alone.
    target_link_options(destpick_disk PRIVATE -shared -nostdlib -Wl,--subsystem,native
        -Wl,--entry,DriverEntry)
    target_link_libraries(destpick_disk PRIVATE ntoskrnl)

    add_executable(wine_launcher tests/wine_disk/launcher.c)
    target_link_options(wine_launcher PRIVATE -municode)
    target_link_libraries(wine_launcher PRIVATE advapi32)

    add_test(NAME wine_disks COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/wine_disk_test.sh
        ${DESTPICK_NATIVE_BUILD_DIR} ${CMAKE_CURRENT_BINARY_DIR} ${DESTPICK_WINE})
    set_tests_properties(wine_disks PROPERTIES RESOURCE_LOCK wine SKIP_RETURN_CODE 77 TIMEOUT 600)
else()
    add_executable(wine_machine tests/wine_disk/wine_machine.cpp)
    target_link_libraries(wine_machine PRIVATE destpick_machine)
    destpick_script_test(wine_machine $<TARGET_FILE:wine_machine>)
endif()
