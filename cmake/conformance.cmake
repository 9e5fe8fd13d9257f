# The conformance program: the same source built natively against the stand-in and for Windows,
# printing what the Windows services the system relies on answer, so that the two can be compared.
# Every wide format literal of the system is collected from src/ so that none is left unchecked.
file(GLOB_RECURSE DESTPICK_SYSTEM_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/*.cpp)
set(DESTPICK_FORMATS "")
foreach(source ${DESTPICK_SYSTEM_SOURCES})
    file(READ ${source} text)
    # Semicolons would split the matches as a CMake list; they travel as a marker instead.
    string(REPLACE ";" "<semicolon>" text "${text}")
    string(REGEX MATCHALL "L\"([^\"\\\\]|\\\\.)*%([^\"\\\\]|\\\\.)*\"" literals "${text}")
    foreach(literal ${literals})
        string(REPLACE "<semicolon>" ";" literal "${literal}")
        string(APPEND DESTPICK_FORMATS "    ${literal},\n")
    endforeach()
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/system_formats.inc CONTENT "${DESTPICK_FORMATS}")

add_executable(conformance tests/conformance/conformance.cpp)
set_target_properties(conformance PROPERTIES SUFFIX ".exe")
target_include_directories(conformance PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
if(WIN32)
    target_compile_definitions(conformance PRIVATE STRSAFE_NO_DEPRECATE)
    target_link_options(conformance PRIVATE -static)
    target_link_libraries(conformance PRIVATE user32)
else()
    target_link_libraries(conformance PRIVATE winapi_sim winapi_machine_from_environment)
endif()

if(WIN32)
    destpick_wine_test(conformance ${DESTPICK_NATIVE_BUILD_DIR}/conformance.exe
        $<TARGET_FILE:conformance> ${DESTPICK_WINE})
endif()
