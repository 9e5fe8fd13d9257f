# destpick.exe for Windows: the real SDK headers, the runtime linked in, manifest and version.
enable_language(RC)
string(REPLACE "." "," DESTPICK_VERSION_COMMAS "${PROJECT_VERSION}")
# Every shipped program: its version resource and manifest (NAME.rc.in and NAME.manifest in the
# folder given), the runtime linked in, and stripped: no symbol table and no debug sections (the
# static runtime brings its own).
function(destpick_shipped_program target name folder)
    set(resource ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc)
    set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${name}.manifest)
    configure_file(${folder}/${name}.rc.in ${resource} @ONLY)
    configure_file(${folder}/${name}.manifest ${manifest} COPYONLY)
    target_sources(${target} PRIVATE ${resource})
    # windres reports no dependencies, so a changed manifest would otherwise stay embedded.
    set_source_files_properties(${resource} PROPERTIES OBJECT_DEPENDS ${manifest})
    target_link_options(${target} PRIVATE -static -s ${ARGN})
endfunction()
destpick_shipped_program(destpick destpick src/resources)
# Nor the time of the link in the header, so that two builds of one commit give the same bytes and
# the release archive the same sums. The value the folder ends with applies to every executable
# in it, the tools beside destpick.exe too.
string(APPEND CMAKE_EXE_LINKER_FLAGS " -Wl,--no-insert-timestamp")
# Before main runs, the process holds only KERNEL32 and msvcrt (known DLLs, loaded from the
# system folder whatever lies beside the executable). Every other DLL is delay-loaded, at its
# first call, after main has limited the DLL search to the system folder: VERSION.dll is not a
# known DLL, so imported the ordinary way a version.dll beside the executable would be loaded
# into the elevated process; USER32 and SETUPAPI are known DLLs, but what they import in turn is
# then searched the same safe way too, and nothing rests on a Windows edition's known-DLL list.
# dlltool builds each delay-load import library from the functions listed in cmake/delayload/;
# a function missing there fails the link (SETUPAPI) or lands in the ordinary imports, which
# tests/windows_imports_test.sh refuses. destpick-ts takes OLE32 and OLEAUT32 for the task
# sequence's COM object, each library named DESTPICK_DELAYLOAD_<DLL>.
find_program(DESTPICK_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
foreach(dll VERSION SETUPAPI USER32 OLE32 OLEAUT32)
    set(definition ${CMAKE_CURRENT_SOURCE_DIR}/cmake/delayload/${dll}.def)
    set(library ${CMAKE_CURRENT_BINARY_DIR}/delayload/lib${dll}.a)
    add_custom_command(OUTPUT ${library}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/delayload
        COMMAND ${DESTPICK_DLLTOOL} --input-def ${definition} --output-delaylib ${library}
        DEPENDS ${definition}
        COMMENT "Delay-load import library for ${dll}.dll")
    list(APPEND DESTPICK_DELAYLOAD_LIBRARIES ${library})
    set(DESTPICK_DELAYLOAD_${dll} ${library})
endforeach()
add_custom_target(delayload_libraries DEPENDS ${DESTPICK_DELAYLOAD_LIBRARIES})
add_dependencies(destpick_core delayload_libraries)
target_link_libraries(destpick_core PUBLIC ${DESTPICK_DELAYLOAD_VERSION}
    ${DESTPICK_DELAYLOAD_SETUPAPI} ${DESTPICK_DELAYLOAD_USER32})
# mingw's strsafe.h renames wvsprintfW and friends to undeclared names to push callers to its own
# functions; the log writer relies on wvsprintfW's documented 1024-character cut, so keep it.
target_compile_definitions(destpick_core PUBLIC STRSAFE_NO_DEPRECATE)

enable_testing()
# The checks that compare the two builds take the native side from here; the test command
# builds it first.
set(DESTPICK_NATIVE_BUILD_DIR ${CMAKE_CURRENT_SOURCE_DIR}/build/sim CACHE PATH
    "Folder of the native build that the Windows build is compared with")
find_program(DESTPICK_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(DESTPICK_WINE NAMES wine64 wine)
# A check that runs Wine: such checks share Wine and its prefixes, so they take turns.
function(destpick_wine_test name)
    destpick_script_test(${name} ${ARGN})
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine)
endfunction()
destpick_script_test(windows_imports $<TARGET_FILE:destpick> ${PROJECT_VERSION})
destpick_wine_test(wine_run $<TARGET_FILE:destpick> ${DESTPICK_WINE} ${PROJECT_VERSION})

# A version.dll that marks its own loading, planted beside destpick.exe under Wine; and, to show
# that the plant works, a program that imports VERSION.dll the ordinary way. Both live in a folder
# of their own so that no version.dll ever sits beside the built destpick.exe.
add_library(planted_version MODULE tests/planted_version_dll.cpp)
add_executable(planted_version_control tests/planted_version_control.cpp)
foreach(target planted_version planted_version_control)
    target_link_options(${target} PRIVATE -static -s)
    set_target_properties(${target} PROPERTIES
        LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/planted
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/planted)
endforeach()
set_target_properties(planted_version PROPERTIES PREFIX "" OUTPUT_NAME version)
target_link_libraries(planted_version_control PRIVATE version)
destpick_wine_test(wine_planted_dll $<TARGET_FILE:destpick> $<TARGET_FILE:planted_version>
    $<TARGET_FILE:planted_version_control> ${DESTPICK_WINE} ${PROJECT_VERSION})
destpick_wine_test(golden ${DESTPICK_NATIVE_BUILD_DIR}/destpick.exe $<TARGET_FILE:destpick>
    ${DESTPICK_WINE} ${CMAKE_CURRENT_SOURCE_DIR})

# The machine model built for Windows writes every shipped description as the native build does.
destpick_wine_test(machine_rewrite_wine ${DESTPICK_NATIVE_BUILD_DIR}/rewrite_description.exe
    $<TARGET_FILE:rewrite_description> ${DESTPICK_WINE} ${CMAKE_CURRENT_SOURCE_DIR})

# The release archive: what it packs beside the executables, and its check.
include(cmake/release.cmake)
