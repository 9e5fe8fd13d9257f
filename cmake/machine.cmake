# The text helpers (text/): UTF-8 and UTF-16 conversion and the ASCII case folding of names, under
# the stand-in, the machine model and the tools alike.
add_library(destpick_text STATIC text/src/text.cpp)
target_include_directories(destpick_text PUBLIC text/include)

# The machine model (machine/): what a simulated machine is, its description read and written, and
# the replies of its disks. Plain C++ over the Windows types: natively it compiles against the
# stand-in's SDK headers, for Windows against the SDK's own, so that tools on either side can read
# and write descriptions.
add_library(destpick_machine STATIC
    machine/src/machine.cpp
    machine/src/replies.cpp
    machine/src/description_field.cpp
    machine/src/reply_forms.cpp
    machine/src/disk_requests.cpp
    machine/src/description_reader.cpp
    machine/src/description_writer.cpp)
# The bus names come from the system (src): its log readers show them too.
target_include_directories(destpick_machine PUBLIC machine/include PRIVATE src)
target_link_libraries(destpick_machine PUBLIC destpick_text)
if(WIN32)
    # nlohmann-json is header-only: a folder of the build tree holds a link to the host's copy, so
    # that the cross compiler sees it without seeing the rest of the host's headers.
    find_path(DESTPICK_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    set(DESTPICK_HOST_HEADERS ${CMAKE_CURRENT_BINARY_DIR}/host-headers)
    file(MAKE_DIRECTORY ${DESTPICK_HOST_HEADERS})
    file(CREATE_LINK ${DESTPICK_NLOHMANN_JSON_INCLUDE}/nlohmann ${DESTPICK_HOST_HEADERS}/nlohmann
        SYMBOLIC)
    target_include_directories(destpick_machine SYSTEM PRIVATE ${DESTPICK_HOST_HEADERS})
    # <windows.h> would otherwise define min and max as macros, and much that the model never uses.
    target_compile_definitions(destpick_machine PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN)
else()
    find_package(nlohmann_json 3 REQUIRED)
    target_link_libraries(destpick_machine PRIVATE nlohmann_json::nlohmann_json)
    # Natively the model compiles against the stand-in's SDK headers, and never sees its control.
    target_include_directories(destpick_machine PUBLIC winapi/sdk)
endif()

# Writes a description anew: the example-log check runs the rewritten examples, and the Windows
# build's output is compared with the native one's.
add_executable(rewrite_description tests/machine/rewrite_description.cpp)
set_target_properties(rewrite_description PROPERTIES SUFFIX ".exe")
target_link_libraries(rewrite_description PRIVATE destpick_machine)
if(WIN32)
    target_link_options(rewrite_description PRIVATE -static)
endif()
